// A small JSON reader for the answers of the USPTO's Patent Public Search. Network bytes are
// hostile: the reader takes time in proportion to its input and memory within a fixed
// bound, refuses deep nesting (no deep recursion) and never throws.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    std::string text;                                       // a string's value, a number as written
    std::vector<JsonValue> items;                           // an array's
    std::vector<std::pair<std::string, JsonValue>> members; // an object's, in order

    // The first member named key of an object; null for anything else.
    const JsonValue* Get(const std::string& key) const;
    bool IsString() const { return type == Type::String; }
    // A number without fraction or exponent within [low, high]; false otherwise.
    bool Integer(long long low, long long high, long long& value) const;
};

constexpr int kMaxJsonDepth = 64;
// A value takes some hundred bytes once read: "[0,0,0,...]" would take fifty times its size.
// Real answers hold a few thousand values.
constexpr size_t kMaxJsonValues = 200000;

// Parses all of `text` (white space around the value allowed). False with a short reason in
// `error` for anything that is not one JSON value, nests deeper than kMaxJsonDepth or holds
// more than kMaxJsonValues values.
bool ParseJson(const std::string& text, JsonValue& out, std::string& error);
