#pragma once

#include <QString>

#include <array>

namespace corvane {

// The thirteen fixed rules, numbered 1 to 13. Their texts never change; each has a tick that
// switches it on (all set until the settings say otherwise).
class MiscRules {
public:
    static constexpr int Count = 13;

    static QString text(int number);

    bool ticked(int number) const { return m_ticks.at(number - 1); }
    void setTicked(int number, bool on) { m_ticks.at(number - 1) = on; }
    void setAll(bool on) { m_ticks.fill(on); }

    friend bool operator==(const MiscRules &, const MiscRules &) = default;

private:
    std::array<bool, Count> m_ticks{true, true, true, true, true, true, true,
                                    true, true, true, true, true, true};
};

} // namespace corvane
