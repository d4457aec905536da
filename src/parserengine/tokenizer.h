#pragma once

#include "parser/parser.h"
#include "storage/buffer.h"

// The first stage of every command: copying its text into the engine's
// command buffer and cutting it into tokens in place.
//
// Tokens are separated by blanks (the space character only) outside quotes
// and by the separators "," "(" ")" "!=" ">=" "<=" "=" "<" ">" (tried in
// that order, also inside quotes). A token that starts with a quote must end
// with the same quote; the quotes are then removed. Letter case is kept.

// Replaces the contents of `buffer` with `command` and a terminating NUL,
// growing the buffer as needed. Throws std::logic_error for a null command.
void copyCommandToBuffer(Buffer& buffer, const char* command);

// Replaces `tokens` with the tokens of the NUL-terminated text at the start
// of `buffer`, overwriting blanks in the buffer. Throws DatabaseException
// "Unmatched quotation mark in token %s" for a badly quoted token and
// "Command has more than 65535 tokens" for a command that is too long.
void populateTokens(Buffer& buffer, TokenList& tokens);
