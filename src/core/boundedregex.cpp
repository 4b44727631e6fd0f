#include "core/boundedregex.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <QCoreApplication>

#include <algorithm>

namespace {

// The limits every search runs under, and the stack the compiled code runs
// on, shared by the expressions of one thread: one stack per expression would
// cost a thousand rules tens of megabytes.
class SearchLimits {
public:
    SearchLimits()
        : context_(pcre2_match_context_create(nullptr))
        , stack_(pcre2_jit_stack_create(32 * 1024, 512 * 1024, nullptr))
    {
        pcre2_set_match_limit(context_, BoundedRegex::MatchLimit);
        // The depth and heap limits bind only where the code could not be
        // compiled to machine code and the interpreter runs it.
        pcre2_set_depth_limit(context_, BoundedRegex::MatchLimit);
        pcre2_set_heap_limit(context_, 4096); // KiB
        if (stack_)
            pcre2_jit_stack_assign(context_, nullptr, stack_);
    }
    ~SearchLimits()
    {
        pcre2_jit_stack_free(stack_);
        pcre2_match_context_free(context_);
    }
    SearchLimits(const SearchLimits &) = delete;
    SearchLimits &operator=(const SearchLimits &) = delete;

    [[nodiscard]] pcre2_match_context *context() const { return context_; }

private:
    pcre2_match_context *context_;
    pcre2_jit_stack *stack_;
};

pcre2_match_context *searchContext()
{
    thread_local SearchLimits limits;
    return limits.context();
}

PCRE2_SPTR units(QStringView text)
{
    return reinterpret_cast<PCRE2_SPTR>(text.utf16());
}

} // namespace

std::atomic<quint64> RegexCode::compilations_{0};

namespace {

thread_local quint64 compilationsHere = 0;

// PCRE2's words, translated as QRegularExpression translates them, so that
// a pattern's problem reads as it did when Qt checked it.
QString errorText(int code)
{
    QString text(256, Qt::Uninitialized);
    const int length = pcre2_get_error_message(
        code, reinterpret_cast<PCRE2_UCHAR *>(text.data()), PCRE2_SIZE(text.size()));
    text.truncate(std::max(length, 0));
    return QCoreApplication::translate("QRegularExpression", text.toLatin1().constData());
}

} // namespace

RegexCode::RegexCode(pcre2_real_code_16 *code)
    : code_(code)
{
}

RegexCode::~RegexCode()
{
    pcre2_code_free(code_);
}

RegexCode::Compiled RegexCode::compile(const QString &pattern, std::size_t machineCodeUpTo)
{
    ++compilations_;
    ++compilationsHere;
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    // PCRE2_UTF is what QRegularExpression compiles with by default.
    const auto length = PCRE2_SIZE(pattern.size());
    pcre2_code *code = pcre2_compile(units(pattern), length, PCRE2_UTF, &error, &errorOffset, nullptr);
    if (!code)
        return {nullptr, errorText(error), qsizetype(errorOffset)};
    std::shared_ptr<const RegexCode> made(new RegexCode(code));
    // Where machine code cannot be made the interpreter runs, as slowly as
    // it does but under the same limits.
    if (made->size() <= machineCodeUpTo)
        pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    return {std::move(made), {}, -1};
}

quint64 RegexCode::compilationsOnThisThread()
{
    return compilationsHere;
}

std::size_t RegexCode::size() const
{
    std::size_t bytes = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_SIZE, &bytes);
    return bytes;
}

std::size_t RegexCode::machineCodeSize() const
{
    std::size_t bytes = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_JITSIZE, &bytes);
    return bytes;
}

BoundedRegex::BoundedRegex(std::shared_ptr<const RegexCode> code)
    : code_(std::move(code))
{
    if (code_)
        found_ = pcre2_match_data_create_from_pattern(code_->code_, nullptr);
}

BoundedRegex::~BoundedRegex()
{
    pcre2_match_data_free(found_);
}

BoundedRegex::Outcome BoundedRegex::search(QStringView text)
{
    groups_ = 0;
    if (!found_)
        return Outcome::NoMatch;
    // An empty view may have no data at all; PCRE2 wants a pointer anyway.
    static const char16_t nothing = 0;
    const PCRE2_SPTR subject = text.isEmpty() ? reinterpret_cast<PCRE2_SPTR>(&nothing) : units(text);
    const int result = pcre2_match(
        code_->code_, subject, PCRE2_SIZE(text.size()), 0, PCRE2_NO_UTF_CHECK, found_, searchContext());
    if (result > 0) {
        groups_ = result;
        return Outcome::Matched;
    }
    if (result == PCRE2_ERROR_NOMATCH)
        return Outcome::NoMatch;
    // The match, depth, heap or stack limit, or no memory: the search was
    // cut short and said nothing about whether the text matches.
    return Outcome::GaveUp;
}

qsizetype BoundedRegex::groupStart(int group) const
{
    if (group < 0 || group >= groups_)
        return -1;
    const PCRE2_SIZE start = pcre2_get_ovector_pointer(found_)[2 * group];
    return start == PCRE2_UNSET ? -1 : qsizetype(start);
}

qsizetype BoundedRegex::groupEnd(int group) const
{
    if (group < 0 || group >= groups_)
        return -1;
    const PCRE2_SIZE end = pcre2_get_ovector_pointer(found_)[2 * group + 1];
    return end == PCRE2_UNSET ? -1 : qsizetype(end);
}
