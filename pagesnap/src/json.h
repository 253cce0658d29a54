// Just enough JSON for the browser's DevTools messages: a complete parser (the browser's
// answers carry nested objects and megabytes of picture data) and string quoting for the
// commands sent to it.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace pagesnap {

class JsonValue {
public:
    enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };

    Type type() const { return type_; }
    bool IsObject() const { return type_ == Type::kObject; }
    bool IsString() const { return type_ == Type::kString; }
    bool IsNumber() const { return type_ == Type::kNumber; }
    bool AsBool() const { return type_ == Type::kBool && bool_; }
    double AsNumber() const { return type_ == Type::kNumber ? number_ : 0.0; }
    const std::string& AsString() const { return text_; }  // empty unless a string
    const std::vector<JsonValue>& Items() const { return items_; }

    // The member's value, or null when this is no object or has no such member.
    const JsonValue* Find(const char* key) const;
    JsonValue* Find(const char* key) {
        return const_cast<JsonValue*>(static_cast<const JsonValue*>(this)->Find(key));
    }
    // Follows a chain of member names, e.g. Path({"result", "data"}).
    const JsonValue* Path(std::initializer_list<const char*> keys) const;

private:
    friend class JsonParser;
    Type type_ = Type::kNull;
    bool bool_ = false;
    double number_ = 0.0;
    std::string text_;
    std::vector<JsonValue> items_;
    std::vector<std::pair<std::string, JsonValue>> members_;
};

// False for anything that is not exactly one well-formed JSON value (blanks around it
// allowed), and for nesting deeper than a browser ever sends.
bool ParseJson(const std::string& text, JsonValue* value);

// A JSON string literal with its quotes. The text is taken as UTF-8 and passed through;
// quotes, backslashes and control characters are escaped.
std::string JsonQuote(const std::string& text);

}  // namespace pagesnap
