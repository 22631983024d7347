#pragma once
// The one JSON writer of the tool and the designer page: plain functions that append to a
// record and put the commas where they belong. Nothing in the project reads JSON.

#include <cstdint>
#include <string>
#include <string_view>

struct JsonText {
    std::string text;
    bool afterValue = false;  // the next key or value needs a comma first
};

// bracket is '{' or '[' for jsonOpen, '}' or ']' for jsonClose.
void jsonOpen(JsonText& json, char bracket);
void jsonClose(JsonText& json, char bracket);
void jsonKey(JsonText& json, std::string_view key);
void jsonString(JsonText& json, std::string_view text);
void jsonNumber(JsonText& json, std::int64_t number);
void jsonDecimal(JsonText& json, double number, int places);
void jsonBool(JsonText& json, bool value);
// A key and its value, the commonest pair.
void jsonStringField(JsonText& json, std::string_view key, std::string_view text);
void jsonNumberField(JsonText& json, std::string_view key, std::int64_t number);
void jsonBoolField(JsonText& json, std::string_view key, bool value);
// A whole value these functions wrote already, taken in as it is.
void jsonValue(JsonText& json, std::string_view written);

// A string as a JSON string literal; bytes beyond ASCII are written as \u00XX escapes of the
// byte, so any text of a settings file makes valid JSON (the page decodes them as bytes).
std::string jsonString(std::string_view text);
