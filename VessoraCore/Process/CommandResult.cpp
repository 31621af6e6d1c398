#include "VessoraCore/Process/CommandResult.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

#include <memory>
#include <unicode/ubrk.h>
#include <unicode/utext.h>

namespace vessora {

std::string CommandResult::outputTail(std::size_t count) const {
    if (count == 0)
        return {};
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<UText, decltype(&utext_close)> text(
        utext_openUTF8(nullptr, output.data(), static_cast<int64_t>(output.size()), &error),
        &utext_close);
    std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> characters(
        ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &error), &ubrk_close);
    if (U_FAILURE(error))
        return output;
    ubrk_setUText(characters.get(), text.get(), &error);
    if (U_FAILURE(error))
        return output;
    // Offsets of a UTF-8 UText are byte offsets.
    int32_t start = ubrk_last(characters.get());
    for (std::size_t taken = 0; taken < count; ++taken) {
        int32_t previous = ubrk_previous(characters.get());
        if (previous == UBRK_DONE)
            return output;
        start = previous;
    }
    return output.substr(static_cast<std::size_t>(start));
}

std::string CommandResult::failureMessage(std::string_view program) const {
    return L10n::text("%@ failed (%@):\n%@",
                      {std::string(program), std::to_string(status), outputTail()});
}

} // namespace vessora
