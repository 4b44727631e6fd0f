#pragma once
// A regular expression whose every search does a bounded amount of work. A
// pattern that backtracks without end, such as ^(a+)+$ against "aaa…ab",
// gives up after a fixed number of steps instead of holding the thread for
// tens of milliseconds per piece, which a crowd of peers would add up to
// seconds. The syntax is QRegularExpression's (PCRE2 in UTF mode, over
// UTF-16), so a pattern that QRegularExpression accepts compiles here too.
//
// Compiling is apart from searching: a pattern is compiled once, on
// whatever thread checks it (a workspace's reader thread), into a RegexCode
// that nothing changes afterwards, and handed to the searches of the thread
// that answers received pieces.

#include <QString>
#include <QStringView>

#include <atomic>
#include <cstddef>
#include <memory>

struct pcre2_real_code_16;
struct pcre2_real_match_data_16;

// A compiled pattern. Read-only once made: any number of searches on any
// threads may share it, each with match data of its own.
class RegexCode {
public:
    struct Compiled {
        std::shared_ptr<const RegexCode> code; // none when the pattern is not valid
        QString error; // PCRE2's words for what is wrong, as QRegularExpression gives them
        qsizetype errorOffset = -1; // where, in UTF-16 code units
    };

    // Compiles the pattern, and to machine code as well when its compiled
    // size is at most machineCodeUpTo bytes (0: never). Machine code runs a
    // search several times faster but weighs more than the compiled
    // pattern; a large pattern runs in the interpreter, under the same
    // limits.
    [[nodiscard]] static Compiled compile(const QString &pattern, std::size_t machineCodeUpTo);

    ~RegexCode();
    RegexCode(const RegexCode &) = delete;
    RegexCode &operator=(const RegexCode &) = delete;

    // The bytes the compiled pattern holds, and its machine code (0 without).
    [[nodiscard]] std::size_t size() const;
    [[nodiscard]] std::size_t machineCodeSize() const;

    // Patterns compiled so far, in the process and on the calling thread:
    // where the cost of compiling lands is what keeps a window answering.
    [[nodiscard]] static quint64 compilations() { return compilations_.load(); }
    [[nodiscard]] static quint64 compilationsOnThisThread();

private:
    friend class BoundedRegex;
    explicit RegexCode(pcre2_real_code_16 *code);

    pcre2_real_code_16 *code_;
    static std::atomic<quint64> compilations_;
};

// Searches with a compiled pattern. Not copyable; used by one thread at a
// time.
class BoundedRegex {
public:
    // Steps one search may take (PCRE2's match limit). A few hundred
    // microseconds of work; an ordinary pattern on a piece of some kilobytes
    // needs a small part of it.
    static constexpr quint32 MatchLimit = 100000;

    enum class Outcome { Matched, NoMatch, GaveUp };

    explicit BoundedRegex(std::shared_ptr<const RegexCode> code);
    ~BoundedRegex();
    BoundedRegex(const BoundedRegex &) = delete;
    BoundedRegex &operator=(const BoundedRegex &) = delete;

    // False without code or without room for the match data; such an
    // expression never matches.
    [[nodiscard]] bool isValid() const { return found_ != nullptr; }

    // Looks for the first match anywhere in text. text must be valid UTF-16
    // (no lone surrogates): it is not checked again for every search.
    [[nodiscard]] Outcome search(QStringView text);
    // After Matched: where group k (0 for the whole match) starts and ends in
    // the text, in UTF-16 code units; -1 for both when the group took no
    // part or does not exist.
    [[nodiscard]] qsizetype groupStart(int group) const;
    [[nodiscard]] qsizetype groupEnd(int group) const;

private:
    std::shared_ptr<const RegexCode> code_;
    pcre2_real_match_data_16 *found_ = nullptr;
    int groups_ = 0; // after Matched: the groups the ovector holds
};
