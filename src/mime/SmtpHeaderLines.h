#pragma once
#include "mime/Encodings.h"
#include "mime/HeaderEncoding.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mime {

// The header lines of one message, one entry per physical line (a
// continuation line starts with TAB; an entry may also hold CR LF TAB folds
// that go out in one piece). Values are encoded and folded as they are
// added, with the settings the client copies in before each message.
class TSmtpHeaderLines {
public:
    TSmtpHeaderLines();

    // List operations. Index errors throw std::out_of_range.
    void Add(std::string line);
    void Insert(std::size_t index, std::string line);
    void Replace(std::size_t index, std::string line);
    void Delete(std::size_t index);
    void Clear() { lines_.clear(); }
    std::size_t Count() const { return lines_.size(); }
    const std::string& operator[](std::size_t index) const;
    std::string& operator[](std::size_t index);
    std::vector<std::string>& Lines() { return lines_; }
    const std::vector<std::string>& Lines() const { return lines_; }

    // An address-list header; name includes its colon and space ("To: ").
    void AddAddrHdr(const std::string& name, const std::string& value);
    // An unstructured header (Subject, X-Mailer).
    void AddHdr(const std::string& name, const std::string& value);
    // One entry per CR LF separated piece; a last piece only when not empty.
    void AddMultiLine(const std::string& text);

    // Encoding settings.
    bool Allow8bitChars() const { return allow8bitChars_; }
    void SetAllow8bitChars(bool value) { allow8bitChars_ = value; }
    TSmtpDefaultEncoding DefaultEncoding() const { return defaultEncoding_; }
    void SetDefaultEncoding(TSmtpDefaultEncoding value);
    char EncType() const { return encType_; }  // 'B' for base64, else 'Q'
    const std::string& CharSet() const { return charSet_; }
    std::uint32_t CodePage() const { return codePage_; }
    bool MultiByte() const { return multiByte_; }
    void SetCharSet(const std::string& name, std::uint32_t codePage, bool multiByte);
    bool FoldHeaders() const { return foldHeaders_; }
    void SetFoldHeaders(bool value) { foldHeaders_ = value; }
    bool ConvertToCharset() const { return convertToCharset_; }
    void SetConvertToCharset(bool value) { convertToCharset_ = value; }
    // Code page of the values handed to the Add operations; 0 (the default)
    // means the system ANSI code page.
    void SetSourceCodePage(std::uint32_t value) { sourceCodePage_ = value; }
    std::uint32_t SourceCodePage() const;

private:
    void CheckIndex(std::size_t index, std::size_t limit) const;
    // The value in the list's charset when conversion is asked for.
    std::string Converted(const std::string& value) const;
    // Encoded words of a value (raw: as given; converted: in the charset).
    std::string EncodedWords(const std::string& raw, const std::string& converted, int maxColumn, bool fold) const;
    // The encoded words of a header value, folded when FoldHeaders is on or
    // when a line could not carry them unfolded.
    std::string HeaderWords(const std::string& name, const std::string& raw, const std::string& converted) const;
    // A display name, quoted or as encoded words.
    std::string DisplayText(const std::string& name, int maxColumn) const;
    // Adds a complete line, folded when FoldHeaders is on or when it is
    // longer than SMTP carries.
    void AddFoldable(const std::string& line, TFoldStyle style);

    std::vector<std::string> lines_;
    bool allow8bitChars_ = false;
    TSmtpDefaultEncoding defaultEncoding_ = smtpEnc7bit;
    std::string charSet_;
    std::uint32_t codePage_ = 0;
    std::uint32_t sourceCodePage_ = 0;
    bool multiByte_ = false;
    bool foldHeaders_ = false;
    bool convertToCharset_ = false;
    char encType_ = 'Q';
};

} // namespace mime
