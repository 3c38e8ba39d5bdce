// libFuzzer target: the stand-alone registry's REGEDIT4 parser. Any input either parses or is
// rejected with RegFileError (anything else escaping is a crash). An accepted file serializes to
// text that parses back to the same model, and serializing that model again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "registry/RegFile.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail = {})
{
    std::fprintf(stderr, "fuzz_regfile: %s\n", what);
    if (!detail.empty())
        std::fprintf(stderr, "  detail:\n%s\n", detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<tarnwick::RegModel> model;
    try {
        model.emplace(tarnwick::ParseRegFile(text));
    } catch (const tarnwick::RegFileError& error) {
        if (error.Line() == 0 || error.Reason().empty())
            Fail("a rejection without a line number or reason");
        return 0;
    }

    const std::string first = tarnwick::SerializeRegFile(*model);
    std::optional<tarnwick::RegModel> again;
    try {
        again.emplace(tarnwick::ParseRegFile(first));
    } catch (const tarnwick::RegFileError& error) {
        Fail(("the serialized form is rejected: line " + std::to_string(error.Line()) + ": " + error.Reason()).c_str(),
             first);
    }
    if (!(*again == *model))
        Fail("the serialized form parses to a different model", first);
    const std::string second = tarnwick::SerializeRegFile(*again);
    if (second != first)
        Fail("serializing the re-parsed model gives different bytes", first + "\n---\n" + second);
    return 0;
}
