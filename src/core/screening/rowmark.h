#pragma once

namespace corvane {

// The mark of a listed message, kept as the index of the row's image. Classification sets
// Plain, Friendly or Spam; the user (or automatic mode) sets Delete or Bounce.
enum class RowMark : int { Delete = 3, Plain = 5, Friendly = 9, Bounce = 10, Spam = 11 };

inline const char *rowMarkName(RowMark mark) {
    switch (mark) {
    case RowMark::Delete:
        return "Delete";
    case RowMark::Plain:
        return "Plain";
    case RowMark::Friendly:
        return "Friendly";
    case RowMark::Bounce:
        return "Bounce";
    case RowMark::Spam:
        break;
    }
    return "Spam";
}

} // namespace corvane
