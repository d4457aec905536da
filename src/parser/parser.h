#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

// One token of a command: its text as the grammars read it and, for a
// placeholder "?" that a parameter fills, the number of that parameter.
struct Token {
  static constexpr unsigned short kNoParameter = 65535;

  Token(std::string tokenText, unsigned short parameterNumber = kNoParameter)
      : text(std::move(tokenText)), parameter(parameterNumber) {}
  Token(const char* tokenText) : text(tokenText) {}

  bool isPlaceholder() const { return parameter != kNoParameter; }
  bool operator==(const Token& other) const = default;

  std::string text;
  unsigned short parameter = kNoParameter;  // from 0, in command order
};

// The tokens of one command, in command order.
using TokenList = std::vector<Token>;

// The most tokens a command may have: token positions are 16-bit.
inline constexpr size_t MAX_TOKENS = 65535;

// One link of a parser chain. A grammar is a singly linked chain of parsers
// applied in order over a token list, each consuming zero or more tokens at
// the position the parsers before it left; there is no backtracking. A parser
// owns the rest of its chain through `successor`. After a run the parser
// keeps what it recorded until it is reset or run again.
class Parser {
 public:
  virtual ~Parser() = default;

  // Applies the parser at `position` (always below tokens.size()) and returns
  // the number of tokens consumed; 0 means no match.
  virtual unsigned short parse(const TokenList& tokens, unsigned short position) = 0;
  // Forgets what the last parse recorded (this parser only, not its chain).
  virtual void reset() = 0;
  // What the parser reads, as a message names it when a statement ends
  // before it: "'from'", "table name".
  virtual std::string describe() const = 0;

  // The parser k links down the chain (this one for k = 0), or null.
  Parser* next(unsigned short k);

  // Appends `parser` at the end of this parser's chain and returns it.
  template <typename T>
  T* append(std::unique_ptr<T> parser) {
    T* const added = parser.get();
    last()->successor = std::move(parser);
    return added;
  }

  std::unique_ptr<Parser> successor;  // following parser, null at the end
  bool optional = false;   // may consume nothing without failing the run
  bool dependent = false;  // skipped when the parser applied before it consumed nothing

 private:
  Parser* last();
};

// Runs the chain starting at `head` over `tokens` from `position`: applies
// each parser in turn, skips dependent parsers after one that consumed
// nothing, and stops when the chain or the tokens are used up. Returns the
// position reached. A parser that is not optional and consumes nothing throws
// DatabaseException "Unexpected token identified at pos %d: %s"; so do tokens
// that run out while a part the chain cannot leave out is still to come
// ("Missing %s after '%s'", naming the part and the last token), and a token
// list longer than MAX_TOKENS, with its own message.
unsigned short runChain(Parser* head, const TokenList& tokens, unsigned short position);

// Returns every parser of the chain starting at `head` to its constructed state.
void resetChain(Parser* head);

// Throws DatabaseException when `tokens` has more than MAX_TOKENS tokens.
void checkTokenCount(const TokenList& tokens);

// The text converted to lower case byte by byte.
std::string toLower(const std::string& text);
