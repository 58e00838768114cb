// A small checking harness for the Windows test driver (GoogleTest is not
// built for the MinGW target): named tests, checks that report the file,
// line and both values, and a failure count that becomes the exit code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

// Runs one named test and reports whether its checks held.
void RunTest(const char* name, void (*test)());

// Records a failed check of the running test.
void ReportFailure(const char* file, int line, const std::string& message);

// Every failed check so far.
int FailureCount();

// Prints one line of progress or information.
void Note(const std::string& text);

// The text a value is shown as in a failure report.
inline std::string Show(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\n') {
            out += "\\n\n    ";
        } else if (c == '\r') {
            out += "\\r";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}
inline std::string Show(const char* value) {
    return value ? Show(std::string(value)) : "null";
}
inline std::string Show(char* value) {
    return Show(static_cast<const char*>(value));
}
template <size_t N> std::string Show(const char (&value)[N]) {
    return Show(std::string(value));
}
inline std::string Show(const std::vector<std::string>& values) {
    std::string out = "{";
    for (const std::string& value : values) {
        out += "\n    " + Show(value);
    }
    return out + "}";
}
template <typename T> std::string Show(const T& value) {
    std::ostringstream out;
    if constexpr (std::is_pointer_v<T>) {
        out << static_cast<const void*>(value);
    } else if constexpr (std::is_same_v<T, bool>) {
        out << (value ? "true" : "false");
    } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
        out << static_cast<long long>(value) << " (0x" << std::hex
            << static_cast<unsigned long long>(value) << ")";
    } else {
        out << value;
    }
    return out.str();
}

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ReportFailure(__FILE__, __LINE__, "CHECK(" #condition ")");                            \
        }                                                                                          \
    } while (0)

#define CHECK_EQ(actual, expected)                                                                 \
    do {                                                                                           \
        const auto actual_ = (actual);                                                             \
        const auto expected_ = (expected);                                                         \
        if (!(actual_ == expected_)) {                                                             \
            ReportFailure(__FILE__, __LINE__,                                                      \
                          std::string(#actual) + "\n  actual:   " + Show(actual_) +                \
                              "\n  expected: " + Show(expected_));                                 \
        }                                                                                          \
    } while (0)
