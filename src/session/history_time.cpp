// SPDX-License-Identifier: MIT
// Reads the dates and UTC times the history is chosen by, digit by digit,
// so that nothing but the forms it names is taken.
#include "session/history_time.h"

#include <cstddef>

namespace velmorin {
namespace {

// The number in the `count` digits of `text` from `at`; nothing when one of
// them is no digit or they run past the end.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<std::chrono::sys_seconds> ParseHistoryTime(std::string_view text) {
    using namespace std::chrono;
    if (text.size() < 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    const std::optional<int> yearNumber = Digits(text, 0, 4);
    const std::optional<int> monthNumber = Digits(text, 5, 2);
    const std::optional<int> dayNumber = Digits(text, 8, 2);
    if (!yearNumber || !monthNumber || !dayNumber) {
        return std::nullopt;
    }
    const year_month_day date{year{*yearNumber}, month{static_cast<unsigned>(*monthNumber)},
                              day{static_cast<unsigned>(*dayNumber)}};
    if (!date.ok()) {
        return std::nullopt;
    }
    sys_seconds when = sys_days(date);
    std::string_view rest = text.substr(10);
    if (rest.empty()) {
        return when;
    }
    if (rest.front() != 'T' && rest.front() != 't' && rest.front() != ' ') {
        return std::nullopt;
    }
    rest.remove_prefix(1);
    if (!rest.empty() && (rest.back() == 'Z' || rest.back() == 'z')) {
        rest.remove_suffix(1);
    }
    const std::optional<int> hourNumber = Digits(rest, 0, 2);
    const std::optional<int> minuteNumber = Digits(rest, 3, 2);
    if (!hourNumber || !minuteNumber || rest[2] != ':' || *hourNumber > 23 || *minuteNumber > 59) {
        return std::nullopt;
    }
    when += hours{*hourNumber} + minutes{*minuteNumber};
    rest.remove_prefix(5);
    if (rest.empty()) {
        return when;
    }
    const std::optional<int> secondNumber = Digits(rest, 1, 2);
    if (rest.front() != ':' || !secondNumber || *secondNumber > 59) {
        return std::nullopt;
    }
    when += seconds{*secondNumber};
    rest.remove_prefix(3);
    if (rest.empty()) {
        return when;
    }
    if (rest.front() != '.' || rest.size() == 1) {
        return std::nullopt;
    }
    bool fraction = false;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (!Digits(rest, i, 1)) {
            return std::nullopt;
        }
        fraction = fraction || rest[i] != '0';
    }
    // The history keeps whole seconds: an entry is at or after a time with
    // a fraction when it is at or after the next whole second.
    return fraction ? when + seconds{1} : when;
}

}  // namespace velmorin
