// The streams a single file is written through: the file itself, under its size limit, and
// the codings an item takes where it is written into a page (base64 for a data: URL, an
// attribute's escapes for srcdoc, a raw-text element's end tag kept out of its text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace qm {

class Output {
public:
    virtual ~Output() = default;
    // False once the output takes no more: the writing is to end.
    virtual bool Put(const char* data, size_t size) = 0;
    bool Put(const char* text) { return Put(text, std::char_traits<char>::length(text)); }
};

// A temporary file beside the file it is to become, renamed into place by Finish.
class FileOutput : public Output {
public:
    // More than `mostBytes` in all is refused.
    FileOutput(const char* path, int64_t mostBytes);
    bool Put(const char* data, size_t size) override;
    bool Finish();
    bool opened() const { return opened_; }
    bool tooLarge() const { return tooLarge_; }
    // What the file may still take.
    int64_t room() const { return mostBytes_ - written_; }

private:
    bool Flush();

    std::string path_;
    platform::TempFile file_;
    std::string buffer_;
    int64_t mostBytes_;
    int64_t written_ = 0;
    bool opened_;
    bool tooLarge_ = false;
};

// Base64 (RFC 4648, with padding), closed by Finish.
class Base64Output : public Output {
public:
    explicit Base64Output(Output& inner) : inner_(inner) {}
    bool Put(const char* data, size_t size) override;
    bool Finish();

private:
    Output& inner_;
    unsigned char pending_[3];
    int count_ = 0;
};

// A double-quoted attribute value: '&' and '"' written as character references.
class AttributeOutput : public Output {
public:
    explicit AttributeOutput(Output& inner) : inner_(inner) {}
    bool Put(const char* data, size_t size) override;

private:
    Output& inner_;
};

// The text of a raw-text element (`script`, `style`): "</name" in any case, which would end
// the element, is written "<\/name", the same text to JavaScript's strings, regular
// expressions and templates, and to CSS. Closed by Finish.
class RawTextOutput : public Output {
public:
    RawTextOutput(Output& inner, const char* name) : inner_(inner), name_(name) {}
    bool Put(const char* data, size_t size) override;
    bool Finish();

private:
    Output& inner_;
    std::string name_;
    std::string held_;  // a tail that may begin an end tag
};

}  // namespace qm
