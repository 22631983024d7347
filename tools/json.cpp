#include "json.h"

#include <cstdio>

namespace {

void startValue(JsonText& json) {
    if (json.afterValue) json.text += ',';
    json.afterValue = false;
}

}  // namespace

void jsonOpen(JsonText& json, char bracket) {
    startValue(json);
    json.text += bracket;
}

void jsonClose(JsonText& json, char bracket) {
    json.text += bracket;
    json.afterValue = true;
}

void jsonKey(JsonText& json, std::string_view key) {
    startValue(json);
    json.text += jsonString(key);
    json.text += ':';
}

void jsonString(JsonText& json, std::string_view text) {
    startValue(json);
    json.text += jsonString(text);
    json.afterValue = true;
}

void jsonNumber(JsonText& json, std::int64_t number) {
    startValue(json);
    json.text += std::to_string(number);
    json.afterValue = true;
}

void jsonDecimal(JsonText& json, double number, int places) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, number);
    startValue(json);
    json.text += text;
    json.afterValue = true;
}

void jsonBool(JsonText& json, bool value) {
    startValue(json);
    json.text += value ? "true" : "false";
    json.afterValue = true;
}

void jsonStringField(JsonText& json, std::string_view key, std::string_view text) {
    jsonKey(json, key);
    jsonString(json, text);
}

void jsonNumberField(JsonText& json, std::string_view key, std::int64_t number) {
    jsonKey(json, key);
    jsonNumber(json, number);
}

void jsonBoolField(JsonText& json, std::string_view key, bool value) {
    jsonKey(json, key);
    jsonBool(json, value);
}

void jsonValue(JsonText& json, std::string_view written) {
    startValue(json);
    json.text += written;
    json.afterValue = true;
}

std::string jsonString(std::string_view text) {
    std::string json = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            json += escape;
        } else {
            json += c;
        }
    }
    return json + "\"";
}
