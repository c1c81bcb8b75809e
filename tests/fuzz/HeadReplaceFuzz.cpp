// Differential fuzzing of the head replacement: ReplaceHead against the rule
// written the obvious way, on texts put together from the pieces that matter
// (search texts, ">", replacements, copies of earlier pieces) and noise.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "errors/ErrChain.h"
#include "theme/clsKorvanel.h"

namespace {

using namespace velmora;

struct Outcome {
  bool applied = false;
  bool failed = false;
  std::string text;

  bool operator==(const Outcome&) const = default;
};

// Find the head, then replace it in place again and again, each search
// starting behind the last replacement.
Outcome Reference(std::string text, const std::string& search, const std::string& replacement) {
  const std::size_t start = text.find(search);
  if (start == std::string::npos) return {false, false, text};
  const std::size_t close = text.find('>', start);
  if (close == std::string::npos) {
    if (start == 0) return {true, false, text};
    return {false, true, text};
  }
  const std::string head = text.substr(start, close - start + 1);
  for (std::size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + replacement.size()))
    text.replace(at, head.size(), replacement);
  return {true, false, text};
}

Outcome Actual(std::string text, const std::string& search, const std::string& replacement) {
  try {
    const bool applied = ReplaceHead(text, search, replacement);
    return {applied, false, text};
  } catch (const VbError& e) {
    if (e.Number() != 5) {
      std::fprintf(stderr, "raised %d, not 5\n", e.Number());
      std::abort();
    }
    // The text must come back as it went in.
    return {false, true, text};
  }
}

const std::string_view kSearches[] = {S1, S2, S3, S4, S5};
const std::string_view kReplacements[] = {A1, A2, A3, A4, A5};

void Show(const char* what, const Outcome& o) {
  std::fprintf(stderr, "%s: applied=%d failed=%d text(%zu)=[%s]\n", what, o.applied, o.failed, o.text.size(),
               o.text.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t which = in.ConsumeIntegralInRange<std::size_t>(0, 4);
  const std::string search =
      in.ConsumeBool() ? std::string(kSearches[which]) : in.ConsumeRandomLengthString(6);
  const std::string replacement =
      in.ConsumeBool() ? std::string(kReplacements[which]) : in.ConsumeRandomLengthString(12);

  std::vector<std::string> pieces;
  std::string text;
  while (in.remaining_bytes() > 0 && pieces.size() < 64) {
    std::string piece;
    switch (in.ConsumeIntegralInRange(0, 6)) {
      case 0: piece = in.ConsumeRandomLengthString(16); break;
      case 1: piece = search; break;
      case 2: piece = ">"; break;
      case 3: piece = replacement; break;
      case 4: piece = in.PickValueInArray({" a=\"1\"", " />", "/>", "\r\n", " "}); break;
      case 5: piece = std::string(kSearches[in.ConsumeIntegralInRange<std::size_t>(0, 4)]); break;
      case 6:
        if (!pieces.empty()) piece = pieces[in.ConsumeIntegralInRange<std::size_t>(0, pieces.size() - 1)] + ">";
        break;
    }
    pieces.push_back(piece);
    text += piece;
  }

  const Outcome expected = Reference(text, search, replacement);
  const Outcome actual = Actual(text, search, replacement);
  if (!(expected == actual)) {
    std::fprintf(stderr, "search=[%s] replacement=[%s]\ntext(%zu)=[%s]\n", search.c_str(), replacement.c_str(),
                 text.size(), text.c_str());
    Show("reference", expected);
    Show("ReplaceHead", actual);
    std::abort();
  }
  return 0;
}
