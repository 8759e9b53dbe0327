#pragma once
// A message box as the windows see it: its buttons, its icon, and the button pressed. The
// core's ports speak of boxes in the system's numbers (mb::); they become these typed values
// once, where a box leaves the core for a front end, and an answer becomes a number again on
// its way back.

#include "platform/UserPort.h"

namespace fsv::client {

enum class BoxButtons { Ok, OkCancel, YesNoCancel, YesNo, RetryCancel };
enum class BoxIcon { None, Stop, Question, Warning, Information };
enum class BoxAnswer { Ok, Cancel, Retry, Yes, No };

struct BoxStyle {
    BoxButtons buttons = BoxButtons::Ok;
    BoxIcon icon = BoxIcon::None;
    bool operator==(const BoxStyle&) const = default;
};

// A system box type (mb::kYesNo | mb::kIconQuestion, ...); unknown buttons are OK alone,
// an unknown icon none.
constexpr BoxStyle boxStyle(unsigned type) {
    BoxStyle s;
    switch (type & 0xF) {
        case mb::kOkCancel:
            s.buttons = BoxButtons::OkCancel;
            break;
        case mb::kYesNoCancel:
            s.buttons = BoxButtons::YesNoCancel;
            break;
        case mb::kYesNo:
            s.buttons = BoxButtons::YesNo;
            break;
        case mb::kRetryCancel:
            s.buttons = BoxButtons::RetryCancel;
            break;
        default:
            break;
    }
    switch (type & 0xF0) {
        case mb::kIconStop:
            s.icon = BoxIcon::Stop;
            break;
        case mb::kIconQuestion:
            s.icon = BoxIcon::Question;
            break;
        case mb::kIconWarning:
            s.icon = BoxIcon::Warning;
            break;
        case mb::kIconInformation:
            s.icon = BoxIcon::Information;
            break;
        default:
            break;
    }
    return s;
}

// The system's answer id of a pressed button (mb::kIdOk, ...).
constexpr int answerId(BoxAnswer a) {
    switch (a) {
        case BoxAnswer::Ok:
            return mb::kIdOk;
        case BoxAnswer::Cancel:
            return mb::kIdCancel;
        case BoxAnswer::Retry:
            return mb::kIdRetry;
        case BoxAnswer::Yes:
            return mb::kIdYes;
        case BoxAnswer::No:
            return mb::kIdNo;
    }
    return mb::kIdNo;
}

}  // namespace fsv::client
