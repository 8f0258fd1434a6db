#include "core/rules/miscrules.h"

#include <stdexcept>

namespace corvane {

QString MiscRules::text(int number) {
    static const char *const texts[Count] = {
        "All caps of the word FREE in subject",
        "All caps of the word GUARANTEE in the subject",
        "Credit AND Card anywhere in the subject",
        "Message has spam id of 3 or more (recommended this ticked!)",
        "Subject contains 2 or more dollar ($) signs ",
        "Subject contains 3 or more exclamations",
        "Subject contains 4 or more spaces in a row",
        "Subject contains the word cash or income",
        "The word Market is anywhere in the From address",
        "The word Viagra, Prozac or valium in the subject",
        "The words Money or Loan found in anywhere in the From address",
        "The Words penis or erection in the subject",
        "The words Success and Wealth in the subject",
    };
    if (number < 1 || number > Count)
        throw std::out_of_range("rule number out of range");
    return QString::fromLatin1(texts[number - 1]);
}

} // namespace corvane
