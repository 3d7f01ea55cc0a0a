// The colour table (\colortbl): one entry per semicolon, automatic when no component is given.
#include <algorithm>
#include <cstdint>

#include "formats/rtf/Parser.h"

namespace kv::rtf::detail {

void Parser::ColourTableWord(Keyword keyword, int param) {
  const auto component = static_cast<std::uint8_t>(std::clamp(param, 0, 255));
  switch (keyword) {
    case Keyword::Red:
      colourEntry_.red = component;
      break;
    case Keyword::Green:
      colourEntry_.green = component;
      break;
    case Keyword::Blue:
      colourEntry_.blue = component;
      break;
    default:
      return;
  }
  colourGiven_ = true;
}

void Parser::CommitColour() {
  colours_.push_back(colourGiven_ ? std::optional<Rgb>(colourEntry_) : std::nullopt);
  ResetColour();
}

void Parser::ResetColour() {
  colourEntry_ = Rgb{};
  colourGiven_ = false;
}

}  // namespace kv::rtf::detail
