#pragma once
// A regular expression whose every search does a bounded amount of work. A
// pattern that backtracks without end, such as ^(a+)+$ against "aaa…ab",
// gives up after a fixed number of steps instead of holding the thread for
// tens of milliseconds per piece, which a crowd of peers would add up to
// seconds. The syntax is QRegularExpression's (PCRE2 in UTF mode, over
// UTF-16), so a pattern that QRegularExpression accepts compiles here too.
// Not copyable; used by one thread at a time.

#include <QString>
#include <QStringView>

struct pcre2_real_code_16;
struct pcre2_real_match_data_16;

class BoundedRegex {
public:
    // Steps one search may take (PCRE2's match limit). A few hundred
    // microseconds of work; an ordinary pattern on a piece of some kilobytes
    // needs a small part of it.
    static constexpr quint32 MatchLimit = 100000;

    enum class Outcome { Matched, NoMatch, GaveUp };

    explicit BoundedRegex(const QString &pattern);
    ~BoundedRegex();
    BoundedRegex(const BoundedRegex &) = delete;
    BoundedRegex &operator=(const BoundedRegex &) = delete;

    // False when the pattern did not compile; such an expression never
    // matches.
    [[nodiscard]] bool isValid() const { return code_ != nullptr; }

    // Looks for the first match anywhere in text. text must be valid UTF-16
    // (no lone surrogates): it is not checked again for every search.
    [[nodiscard]] Outcome search(QStringView text);
    // After Matched: where group k (0 for the whole match) starts and ends in
    // the text, in UTF-16 code units; -1 for both when the group took no
    // part or does not exist.
    [[nodiscard]] qsizetype groupStart(int group) const;
    [[nodiscard]] qsizetype groupEnd(int group) const;

private:
    pcre2_real_code_16 *code_ = nullptr;
    pcre2_real_match_data_16 *found_ = nullptr;
    int groups_ = 0; // after Matched: the groups the ovector holds
};
