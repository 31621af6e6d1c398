#include "VessoraCore/Foundation/UnicodeText.hpp"

#include "VessoraHostProtocol/Utf8.hpp"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace vessora::UnicodeText {

namespace {

// Calls the visitor with each code point; false when the text is not valid
// UTF-8 or the visitor asked to stop.
template <typename Visitor>
bool forEachCodePoint(std::string_view text, Visitor&& visit) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t offset = 0;
    while (offset < length) {
        UChar32 codePoint = 0;
        U8_NEXT(bytes, offset, length, codePoint);
        if (codePoint < 0 || !visit(codePoint)) {
            return false;
        }
    }
    return true;
}

bool isWhiteSpace(UChar32 codePoint) {
    return u_hasBinaryProperty(codePoint, UCHAR_WHITE_SPACE) != 0;
}

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string utf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

icu::UnicodeString withoutNonspacingMarks(const icu::UnicodeString& text) {
    icu::UnicodeString result;
    for (int32_t index = 0; index < text.length();) {
        UChar32 codePoint = text.char32At(index);
        if (u_charType(codePoint) != U_NON_SPACING_MARK) {
            result.append(codePoint);
        }
        index += U16_LENGTH(codePoint);
    }
    return result;
}

} // namespace

bool isValidUTF8(std::string_view text) {
    return Utf8::isValid(text);
}

bool containsControl(std::string_view text) {
    return !forEachCodePoint(text, [](UChar32 codePoint) {
        int8_t type = u_charType(codePoint);
        return type != U_CONTROL_CHAR && type != U_FORMAT_CHAR;
    });
}

std::string trimmed(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    // Bytes that do not decode count as ordinary characters.
    int32_t start = -1;
    int32_t end = 0;
    int32_t offset = 0;
    while (offset < length) {
        int32_t characterStart = offset;
        UChar32 codePoint = 0;
        U8_NEXT(bytes, offset, length, codePoint);
        if (codePoint < 0 || !isWhiteSpace(codePoint)) {
            if (start < 0) {
                start = characterStart;
            }
            end = offset;
        }
    }
    if (start < 0) {
        return {};
    }
    return std::string(
        text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

std::string uppercased(std::string_view text) {
    std::string result(text);
    bool ascii = true;
    for (char& c : result) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    if (ascii)
        return result;
    // fromUTF8 replaces ill-formed sequences with U+FFFD.
    icu::UnicodeString string = unicode(text);
    string.toUpper(icu::Locale::getRoot());
    return utf8(string);
}

std::size_t characterCount(std::string_view text) {
    icu::UnicodeString string = unicode(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !iterator) {
        // Without ICU's break data fall back to code points, which never
        // counts fewer characters than the user sees.
        return static_cast<std::size_t>(string.countChar32());
    }
    iterator->setText(string);
    std::size_t count = 0;
    iterator->first();
    while (iterator->next() != icu::BreakIterator::DONE) {
        ++count;
    }
    return count;
}

std::string folded(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        return utf8(unicode(text).foldCase());
    }
    icu::UnicodeString key = withoutNonspacingMarks(nfd->normalize(unicode(text), status));
    key.foldCase();
    // Folding can leave marks beside a base letter ("ΐ" folds to ι plus two
    // marks); decompose and drop them again so every spelling meets.
    key = withoutNonspacingMarks(nfd->normalize(key, status));
    key = nfc->normalize(key, status);
    if (U_FAILURE(status)) {
        return utf8(unicode(text).foldCase());
    }
    return utf8(key);
}

} // namespace vessora::UnicodeText
