#pragma once

#include <memory>

#include "parser/parser.h"

// Base of the statement grammars: owns the grammar's parser chain through
// `root`. Derived grammars keep plain pointers to members of that chain so
// that executors can read what a run recorded; they are valid for the life
// of the grammar object.
class ParserStruct {
 public:
  virtual ~ParserStruct() = default;

  // Returns every parser of the chain to its constructed state, then runs
  // the chain over `tokens` from position 0. Returns the position reached;
  // tokens left over are not checked. An empty token list runs nothing.
  // Throws DatabaseException when a mandatory part does not match.
  unsigned short run(const TokenList& tokens);
  // run(), refusing tokens left over after the grammar's end with
  // DatabaseException "Invalid token identified: %s" naming the first.
  void runWhole(const TokenList& tokens);
  // Returns every parser of the chain to its constructed state.
  void reset();

 protected:
  // Appends `parser` to the grammar's chain (it becomes the root when the
  // chain is empty) and returns it.
  template <typename T>
  T* append(std::unique_ptr<T> parser) {
    if (root == nullptr) {
      T* const added = parser.get();
      root = std::move(parser);
      return added;
    }
    return root->append(std::move(parser));
  }

  std::unique_ptr<Parser> root;  // first parser of the grammar
};
