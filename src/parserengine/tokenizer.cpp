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

void addToken(TokenList& tokens, const char* text, size_t length) {
  if (tokens.size() == MAX_TOKENS) {
    throw DatabaseException("Command has more than %d tokens", static_cast<int>(MAX_TOKENS));
  }
  tokens.emplace_back(text, length);
}

bool isQuote(char c) { return c == '\'' || c == '"'; }

// Turns blanks outside quotes into NULs; either quote opens or closes.
void cutAtBlanks(char* text, size_t length) {
  bool quoted = false;
  for (size_t i = 0; i < length; ++i) {
    if (isQuote(text[i])) {
      quoted = !quoted;
    } else if (text[i] == ' ' && !quoted) {
      text[i] = '\0';
    }
  }
}

// Appends the tokens of one NUL-free word, splitting it at separators.
void splitWord(const char* word, size_t length, TokenList& tokens) {
  size_t i = 0;
  while (i < length) {
    const std::string_view* separator = separatorAt(word + i, length - i);
    if (separator == nullptr) {
      ++i;
      continue;
    }
    if (i > 0) addToken(tokens, word, i);
    addToken(tokens, separator->data(), separator->size());
    word += i + separator->size();
    length -= i + separator->size();
    i = 0;
  }
  if (length > 0) addToken(tokens, word, length);
}

// Strips the enclosing quotes of every token that starts with one.
void unquote(TokenList& tokens) {
  for (std::string& token : tokens) {
    if (token.empty() || !isQuote(token.front())) continue;
    if (token.size() < 2 || token.back() != token.front()) {
      throw DatabaseException("Unmatched quotation mark in token %s", token.c_str());
    }
    token = token.substr(1, token.size() - 2);
  }
}

}  // namespace

void copyCommandToBuffer(Buffer& buffer, const char* command) {
  if (command == nullptr) throw std::logic_error("copyCommandToBuffer: null command");
  const size_t length = std::strlen(command);
  if (length >= UINT32_MAX) throw DatabaseException("Command is too long");
  buffer.reset();
  buffer.write(command, length);
  buffer.write("", 1);
}

void populateTokens(Buffer& buffer, TokenList& tokens) {
  tokens.clear();
  char* text = buffer.start();
  if (text == nullptr) return;
  size_t remaining = std::strlen(text);
  cutAtBlanks(text, remaining);
  while (remaining != 0) {
    if (*text == '\0') {
      ++text;
      --remaining;
      continue;
    }
    const size_t length = strnlen(text, remaining);
    splitWord(text, length, tokens);
    text += length;
    remaining -= length;
  }
  unquote(tokens);
}
