// libFuzzer target for the SQL dump scanner: the scanner with its usual
// window, with its smallest window fed in odd-sized pieces (the input's first
// byte picks them), and the plain reference splitter must agree on every
// input: the same refusal, or the same output and summary. Without a
// database statement the output must equal the dump less its byte-order
// mark. Inputs that once broke this, and the shapes the client reads in its
// own way (comment lines, DELIMITER commands, executable comments), are kept
// in tests/fixtures/sqldump-fuzz.
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/SQLDumpReference.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Refusals look up their sentence; keep that off the user's files.
    vessora::UserDefaults::setStandard(vessora::UserDefaults::inMemory());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string report = vessora::SQLDumpTesting::differences(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (!report.empty()) {
        std::fputs(report.c_str(), stderr);
        std::abort();
    }
    return 0;
}
