// Cutting a command into tokens in one pass: blanks and separators end a word;
// a quoted token keeps them and reads a doubled quote as one.

#include "parserengine/tokenizer.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "errors/database_exception.h"

namespace {

// Two-character operators come first, so ">=" is never split.
constexpr std::string_view kSeparators[] = {",", "(", ")", "!=", ">=", "<=", "=", "<", ">"};

// The separator that starts at `text` (of `length` bytes), or null.
const std::string_view* separatorAt(const char* text, size_t length) {
  for (const std::string_view& separator : kSeparators) {
    if (separator.size() <= length && std::memcmp(text, separator.data(), separator.size()) == 0) {
      return &separator;
    }
  }
  return nullptr;
}

void addToken(TokenList& tokens, const char* text, size_t length,
              unsigned short parameter = Token::kNoParameter) {
  if (tokens.size() == MAX_TOKENS) {
    throw DatabaseException(ErrorKind::kParse, "Command has more than %d tokens", static_cast<int>(MAX_TOKENS));
  }
  tokens.emplace_back(std::string(text, length), parameter);
}

bool isQuote(char c) { return c == '\'' || c == '"'; }

// Blanks separate words: spaces, tabs and line ends, so that a command may
// span lines.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Where the word that starts at `begin` ends: at a blank, at a separator or
// at the end of the command. A quote inside a word is an ordinary byte.
size_t wordEnd(std::string_view command, size_t begin) {
  size_t end = begin;
  while (end < command.size() && !isBlank(command[end]) &&
         separatorAt(command.data() + end, command.size() - end) == nullptr) {
    ++end;
  }
  return end;
}

// Appends the quoted token that starts at `begin` without its quotes and
// answers where it ends. Only the kind of quote that opened it closes it;
// blanks, separators and the other kind of quote inside belong to it, and
// the opening quote written twice stands for itself, as in SQL ('it''s').
// A token with no closing quote, or with more text right after it, is
// refused as written.
size_t addQuotedToken(std::string_view command, size_t begin, TokenList& tokens) {
  const char quote = command[begin];
  std::string value;
  size_t at = begin + 1;
  for (;;) {
    const size_t next = command.find(quote, at);
    if (next == std::string_view::npos) {
      throw DatabaseException(ErrorKind::kParse,
                              "Unmatched quotation mark in token %s", std::string(command.substr(begin)).c_str());
    }
    value.append(command.substr(at, next - at));
    at = next + 1;
    if (at == command.size() || command[at] != quote) break;
    value += quote;
    ++at;
  }
  const size_t end = wordEnd(command, at);
  if (end != at) {
    const std::string written(command.substr(begin, end - begin));
    throw DatabaseException(ErrorKind::kParse, "Unmatched quotation mark in token %s", written.c_str());
  }
  addToken(tokens, value.data(), value.size());
  return end;
}

}  // namespace

void copyCommandToBuffer(Buffer& buffer, const char* command) {
  if (command == nullptr) throw std::logic_error("copyCommandToBuffer: null command");
  const size_t length = std::strlen(command);
  if (length >= UINT32_MAX) throw DatabaseException(ErrorKind::kParse, "Command is too long");
  buffer.reset();
  buffer.write(command, length);
  buffer.write("", 1);
}

void populateTokens(Buffer& buffer, TokenList& tokens, bool placeholders) {
  tokens.clear();
  unsigned short parameters = 0;
  const char* const text = buffer.start();
  if (text == nullptr) return;
  const std::string_view command(text);
  size_t at = 0;
  while (at < command.size()) {
    if (isBlank(command[at])) {
      ++at;
    } else if (const std::string_view* separator = separatorAt(command.data() + at, command.size() - at)) {
      addToken(tokens, separator->data(), separator->size());
      at += separator->size();
    } else if (isQuote(command[at])) {
      at = addQuotedToken(command, at, tokens);
    } else {
      const size_t end = wordEnd(command, at);
      const bool placeholder = placeholders && command.substr(at, end - at) == "?";
      addToken(tokens, command.data() + at, end - at, placeholder ? parameters++ : Token::kNoParameter);
      at = end;
    }
  }
}
