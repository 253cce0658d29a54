#include "json.h"

#include <cstdlib>
#include <cstring>

namespace pagesnap {

namespace {
constexpr int kMaxDepth = 64;
}

const JsonValue* JsonValue::Find(const char* key) const {
    if (type_ != Type::kObject) return nullptr;
    for (const auto& member : members_) {
        if (member.first == key) return &member.second;
    }
    return nullptr;
}

const JsonValue* JsonValue::Path(std::initializer_list<const char*> keys) const {
    const JsonValue* value = this;
    for (const char* key : keys) {
        value = value->Find(key);
        if (!value) return nullptr;
    }
    return value;
}

class JsonParser {
public:
    explicit JsonParser(const std::string& text)
        : s_(text.data()),
          end_(text.data() + text.size()) {}

    bool ParseDocument(JsonValue* value) {
        SkipBlanks();
        if (!ParseValue(value, 0)) return false;
        SkipBlanks();
        return s_ == end_;
    }

private:
    void SkipBlanks() {
        while (s_ < end_ && (*s_ == ' ' || *s_ == '\t' || *s_ == '\r' || *s_ == '\n')) ++s_;
    }

    bool Literal(const char* word) {
        std::size_t n = std::strlen(word);
        if (static_cast<std::size_t>(end_ - s_) < n || std::memcmp(s_, word, n) != 0) return false;
        s_ += n;
        return true;
    }

    bool ParseValue(JsonValue* v, int depth) {
        if (depth > kMaxDepth || s_ == end_) return false;
        switch (*s_) {
            case '{': return ParseObject(v, depth);
            case '[': return ParseArray(v, depth);
            case '"': v->type_ = JsonValue::Type::kString; return ParseString(&v->text_);
            case 't':
                v->type_ = JsonValue::Type::kBool;
                v->bool_ = true;
                return Literal("true");
            case 'f':
                v->type_ = JsonValue::Type::kBool;
                v->bool_ = false;
                return Literal("false");
            case 'n': v->type_ = JsonValue::Type::kNull; return Literal("null");
            default: return ParseNumber(v);
        }
    }

    bool ParseObject(JsonValue* v, int depth) {
        v->type_ = JsonValue::Type::kObject;
        return ParseList('}', [&] {
            std::string key;
            if (s_ == end_ || *s_ != '"' || !ParseString(&key)) return false;
            SkipBlanks();
            if (s_ == end_ || *s_ != ':') return false;
            ++s_;
            SkipBlanks();
            v->members_.emplace_back(std::move(key), JsonValue());
            return ParseValue(&v->members_.back().second, depth + 1);
        });
    }

    bool ParseArray(JsonValue* v, int depth) {
        v->type_ = JsonValue::Type::kArray;
        return ParseList(']', [&] {
            v->items_.emplace_back();
            return ParseValue(&v->items_.back(), depth + 1);
        });
    }

    // The elements of an object or array, from its opening bracket to `close`, separated by
    // commas; each is read by parseElement with the blanks around it skipped.
    template <typename ParseElement>
    bool ParseList(char close, ParseElement parseElement) {
        ++s_;
        SkipBlanks();
        if (s_ < end_ && *s_ == close) {
            ++s_;
            return true;
        }
        for (;;) {
            SkipBlanks();
            if (!parseElement()) return false;
            SkipBlanks();
            if (s_ == end_) return false;
            if (*s_ == close) {
                ++s_;
                return true;
            }
            if (*s_ != ',') return false;
            ++s_;
        }
    }

    bool ParseNumber(JsonValue* v) {
        const char* start = s_;
        if (s_ < end_ && *s_ == '-') ++s_;
        if (s_ == end_ || !IsDigit(*s_)) return false;
        if (*s_ == '0') ++s_;
        else
            while (s_ < end_ && IsDigit(*s_)) ++s_;
        if (s_ < end_ && *s_ == '.') {
            ++s_;
            if (s_ == end_ || !IsDigit(*s_)) return false;
            while (s_ < end_ && IsDigit(*s_)) ++s_;
        }
        if (s_ < end_ && (*s_ == 'e' || *s_ == 'E')) {
            ++s_;
            if (s_ < end_ && (*s_ == '+' || *s_ == '-')) ++s_;
            if (s_ == end_ || !IsDigit(*s_)) return false;
            while (s_ < end_ && IsDigit(*s_)) ++s_;
        }
        // strtod needs a terminated copy; numbers are short.
        const std::string digits(start, s_);
        v->type_ = JsonValue::Type::kNumber;
        v->number_ = std::strtod(digits.c_str(), nullptr);
        return true;
    }

    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    static int HexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool ReadHex4(unsigned* unit) {
        if (end_ - s_ < 4) return false;
        unsigned u = 0;
        for (int i = 0; i < 4; ++i) {
            int h = HexValue(s_[i]);
            if (h < 0) return false;
            u = u * 16 + static_cast<unsigned>(h);
        }
        s_ += 4;
        *unit = u;
        return true;
    }

    static void AppendUtf8(std::string* out, unsigned cp) {
        if (cp < 0x80) {
            out->push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    bool ParseString(std::string* out) {
        ++s_;  // opening quote
        for (;;) {
            // Plain runs are copied in one go: a screenshot is one string of many megabytes.
            const char* run = s_;
            while (s_ < end_ && *s_ != '"' && *s_ != '\\' &&
                   static_cast<unsigned char>(*s_) >= 0x20)
                ++s_;
            out->append(run, s_);
            if (s_ == end_) return false;
            if (*s_ == '"') {
                ++s_;
                return true;
            }
            if (*s_ != '\\') return false;  // raw control character
            if (++s_ == end_) return false;
            char c = *s_++;
            switch (c) {
                case '"': out->push_back('"'); break;
                case '\\': out->push_back('\\'); break;
                case '/': out->push_back('/'); break;
                case 'b': out->push_back('\b'); break;
                case 'f': out->push_back('\f'); break;
                case 'n': out->push_back('\n'); break;
                case 'r': out->push_back('\r'); break;
                case 't': out->push_back('\t'); break;
                case 'u': {
                    unsigned unit;
                    if (!ReadHex4(&unit)) return false;
                    if (unit >= 0xD800 && unit < 0xDC00) {
                        unsigned low;
                        if (end_ - s_ < 2 || s_[0] != '\\' || s_[1] != 'u') return false;
                        s_ += 2;
                        if (!ReadHex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                        return false;
                    }
                    AppendUtf8(out, unit);
                    break;
                }
                default: return false;
            }
        }
    }

    const char* s_;
    const char* end_;
};

bool ParseJson(const std::string& text, JsonValue* value) {
    *value = JsonValue();
    JsonParser parser(text);
    return parser.ParseDocument(value);
}

std::string JsonQuote(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20 || u == 0x7f) {
            out += "\\u00";
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 15]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace pagesnap
