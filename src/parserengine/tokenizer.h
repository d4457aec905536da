#pragma once

#include "parser/parser.h"
#include "storage/buffer.h"

// The first stage of every command: copying its text into the engine's
// command buffer and cutting it into tokens.
//
// Tokens are separated by blanks (spaces, tabs, line feeds and carriage
// returns) and by the separators "," "(" ")" "!=" ">=" "<=" "=" "<" ">"
// (tried in that order, so ">=" is one token). A token that starts with a
// single or a double quote runs to the next quote of the same kind: blanks
// and separators inside belong to it, the quote written twice stands for
// one, and the quotes are removed. A quote inside an unquoted word is an
// ordinary byte. Letter case is kept. When the command comes with
// parameters, every word "?" outside quotes is a placeholder, numbered from
// 0 in command order; without them it is the text it is.

// Replaces the contents of `buffer` with `command` and a terminating NUL,
// growing the buffer as needed. Throws std::logic_error for a null command.
void copyCommandToBuffer(Buffer& buffer, const char* command);

// Replaces `tokens` with the tokens of the NUL-terminated text at the start
// of `buffer`, marking placeholders when `placeholders` is set. Throws
// DatabaseException "Unmatched quotation mark in token %s", naming the
// token as written, for a quoted token that is not closed or has more text
// right after its closing quote, and "Command has more than 65535 tokens"
// for a command that is too long.
void populateTokens(Buffer& buffer, TokenList& tokens, bool placeholders = false);
