#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "parser/parser.h"

// Builds the head of a new element chain; the caller owns it.
using ElementFactory = std::unique_ptr<Parser> (*)();

// A list of elements, each matched by a fresh chain from the element factory,
// with separator tokens between them. With separators the list reads
// element, separator, element, ... and ends at the first token after an
// element that is not a separator (compared exactly, letter case counts); a
// separator that is the last token is refused, as a statement that stops
// short of an element. Without separators elements follow back to back
// until one consumes nothing. The list owns its element chains until its
// next parse or reset.
class ListParser : public Parser {
 public:
  // `element` names one element, such as "column", for messages.
  ListParser(ElementFactory factory, std::set<std::string> separators, std::string element);

  unsigned short parse(const TokenList& tokens, unsigned short position) override;
  void reset() override;
  std::string describe() const override { return element_; }

  const std::set<std::string> separators;     // accepted between elements
  std::vector<std::string> separatorsFound;   // separators of the last parse, in order
  std::vector<std::unique_ptr<Parser>> elements;  // element chains of the last parse

 private:
  const ElementFactory factory_;
  const std::string element_;
};
