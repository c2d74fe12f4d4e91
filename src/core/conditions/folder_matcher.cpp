#include "core/conditions/folder_matcher.h"

#include "base/cancellation.h"
#include "base/exception.h"
#include "core/conditions/block_reader.h"
#include "platform/files.h"
#include "platform/system_errors.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>

namespace ferry {

namespace {

enum class State { NotAsked, Open, Holds, Fails };

std::string Quoted(const std::string& text) {
    return '"' + text + '"';
}

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& word : words) {
        if (!out.empty())
            out += ' ';
        out += word;
    }
    return out;
}

std::string Listed(const std::vector<ConditionTerm>& terms, const std::vector<std::size_t>& which) {
    std::vector<std::string> texts;
    for (std::size_t i : which)
        texts.push_back(terms[i].Text());
    return Joined(texts);
}

// Reads for a scan: a long one may be given up between two blocks.
class CancellableSource : public ScanSource {
public:
    explicit CancellableSource(ReadOnlyFile& file) : File_(file) {}
    int64_t Size() override { return File_.Size(); }
    std::size_t Read(void* buffer, std::size_t count) override {
        ThrowIfThreadCancelled();
        return File_.Read(buffer, count);
    }
    void Seek(int64_t position) override { File_.Seek(position); }

private:
    ReadOnlyFile& File_;
};

unsigned char* Buffer(std::size_t size) {
    thread_local std::vector<unsigned char> buffer;
    if (buffer.size() < size)
        buffer.resize(size);
    return buffer.data();
}

// The matched text of a pattern (UTF-8) in the system code page.
std::string FromUtf8(const std::string& text) {
    const CodePage& page = SystemCodePage();
    return page.IsUtf8() ? text : page.FromUtf16(CodePage::Utf8().ToUtf16(text));
}

} // namespace

// One file's (or document's) match of the asked tasks: what each term and pattern was
// found as so far, and each task's state.
class FolderMatcher::Run {
public:
    Run(const std::vector<ParsedConditions>& parsed, const ConditionSet& set,
        const std::vector<bool>& asked)
        : Parsed_(parsed), Set_(set), Work_(TakeWork()), States_(Work_->States),
          TermHits_(Work_->TermHits), PatternHits_(Work_->PatternHits), NeedTerm_(Work_->NeedTerm),
          NeedPattern_(Work_->NeedPattern), Flags_(Work_->Flags), Upper_(Work_->Upper),
          Present_(Work_->Present) {
        States_.assign(parsed.size(), State::NotAsked);
        TermHits_.assign(set.TermCount(), std::nullopt);
        PatternHits_.assign(set.PatternCount(), std::nullopt);
        NeedTerm_.assign(set.TermCount(), 0);
        NeedPattern_.assign(set.PatternCount(), 0);
        Present_.resize(set.PatternCount());
        for (std::size_t t = 0; t < parsed.size(); ++t) {
            if (!asked[t])
                continue;
            States_[t] = Set_.Plans()[t].Problem.empty() ? State::Open : State::Fails;
            Open_ += States_[t] == State::Open;
        }
    }

    ~Run() { GiveBack(std::move(Work_)); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    bool Done() const { return Open_ == 0; }

    void Block(const TextBlock& block, int64_t offset, const std::string& piece) {
        if (!Needs())
            return;
        const LiteralFilter& filter = Set_.Filter();
        Flags_.assign(filter.Count(), 0);
        if (Set_.FiltersUpperCase()) {
            // Upper-casing keeps every character's length: positions stay the block's.
            Upper_.assign(block.Data, block.Data + block.Size);
            Set_.Reader().Page().UpperInPlace(reinterpret_cast<char*>(Upper_.data()),
                                              Upper_.size());
            filter.Scan(Upper_.data(), Upper_.size(), Flags_);
        } else {
            filter.Scan(block.Data, block.Size, Flags_);
        }
        for (auto& present : Present_)
            present.clear();
        for (std::size_t literal = 0; literal < Flags_.size(); ++literal) {
            if (!Flags_[literal])
                continue;
            for (std::size_t t : Set_.TermsOf(literal)) {
                if (!NeedTerm_[t] || TermHits_[t])
                    continue;
                if (auto found = Set_.Term(t).FindIn(block))
                    TermHits_[t] =
                        ConditionHit{{}, offset + static_cast<int64_t>(found->Start), piece};
            }
            for (const auto& [pattern, required] : Set_.RequiredOf(literal))
                Present_[pattern].push_back(required);
        }
        for (std::size_t p = 0; p < PatternHits_.size(); ++p) {
            if (!NeedPattern_[p] || PatternHits_[p] ||
                (Set_.FiltersPatterns() && !Set_.Pattern(p).MayMatch(Present_[p])))
                continue;
            std::string text;
            if (auto found = Set_.Pattern(p).FindIn(block, &text))
                PatternHits_[p] = ConditionHit{FromUtf8(text),
                                               offset + static_cast<int64_t>(found->Start), piece};
        }
        for (std::size_t t = 0; t < States_.size(); ++t)
            if (States_[t] == State::Open)
                Decide(t, false);
    }

    std::vector<TaskVerdict> Finish() {
        std::vector<TaskVerdict> verdicts;
        Finish(verdicts);
        return verdicts;
    }

    void Finish(std::vector<TaskVerdict>& verdicts) {
        verdicts.assign(States_.size(), TaskVerdict{});
        for (std::size_t t = 0; t < States_.size(); ++t) {
            if (States_[t] == State::Open)
                Decide(t, true);
            if (States_[t] != State::NotAsked)
                verdicts[t] = Verdict(t);
        }
    }

private:
    // Which terms and patterns the open tasks still look for; false when none.
    bool Needs() {
        NeedTerm_.assign(NeedTerm_.size(), 0);
        NeedPattern_.assign(NeedPattern_.size(), 0);
        bool any = false;
        for (std::size_t t = 0; t < States_.size(); ++t) {
            if (States_[t] != State::Open)
                continue;
            const ConditionSet::Plan& plan = Set_.Plans()[t];
            for (const auto* terms : {&plan.Wanted, &plan.Excluded})
                for (std::size_t n : *terms) {
                    NeedTerm_[n] = 1;
                    any = any || !TermHits_[n];
                }
            if (plan.Pattern != ConditionSet::None) {
                NeedPattern_[plan.Pattern] = 1;
                any = any || !PatternHits_[plan.Pattern];
            }
        }
        return any;
    }

    bool Satisfied(std::size_t t) const {
        const ConditionSet::Plan& plan = Set_.Plans()[t];
        if (plan.Pattern != ConditionSet::None)
            return PatternHits_[plan.Pattern].has_value();
        std::size_t found = 0;
        for (std::size_t n : plan.Wanted)
            found += TermHits_[n].has_value();
        return Parsed_[t].Kind == MatchKind::AnyWord ? found > 0 : found == plan.Wanted.size();
    }

    // Settles a task once its answer can no longer change, or at the end of the text.
    void Decide(std::size_t t, bool end) {
        const ConditionSet::Plan& plan = Set_.Plans()[t];
        bool excluded = false;
        for (std::size_t n : plan.Excluded)
            excluded = excluded || TermHits_[n].has_value();
        State state = State::Open;
        if (excluded)
            state = State::Fails;
        else if (Satisfied(t) && (plan.Excluded.empty() || end))
            state = State::Holds;
        else if (end)
            state = State::Fails;
        if (state != State::Open) {
            States_[t] = state;
            --Open_;
        }
    }

    TaskVerdict Verdict(std::size_t t) const {
        const ConditionSet::Plan& plan = Set_.Plans()[t];
        const ParsedConditions& parsed = Parsed_[t];
        TaskVerdict v;
        v.Holds = States_[t] == State::Holds;
        for (std::size_t i = 0; i < plan.Wanted.size(); ++i)
            if (const auto& hit = TermHits_[plan.Wanted[i]]) {
                v.Found.push_back(*hit);
                v.Found.back().What = parsed.Wanted[i].Text();
            }
        if (plan.Pattern != ConditionSet::None && PatternHits_[plan.Pattern])
            v.Found.push_back(*PatternHits_[plan.Pattern]);
        for (std::size_t i = 0; i < plan.Excluded.size() && v.Excluded < 0; ++i)
            if (TermHits_[plan.Excluded[i]])
                v.Excluded = static_cast<int>(i);
        return v;
    }

    // The working vectors, kept from one file to the next on this thread so that a file's
    // match allocates nothing once the first has sized them.
    struct Work {
        std::vector<State> States;
        std::vector<std::optional<ConditionHit>> TermHits, PatternHits;
        std::vector<unsigned char> NeedTerm, NeedPattern, Flags, Upper;
        std::vector<std::vector<int>> Present;
    };
    using Pool = std::vector<std::unique_ptr<Work>>;
    static Pool& Spare() {
        thread_local Pool spare;
        return spare;
    }
    static std::unique_ptr<Work> TakeWork() {
        Pool& spare = Spare();
        if (spare.empty())
            return std::make_unique<Work>();
        std::unique_ptr<Work> work = std::move(spare.back());
        spare.pop_back();
        return work;
    }
    static void GiveBack(std::unique_ptr<Work> work) {
        try {
            Spare().push_back(std::move(work));
        } catch (const std::bad_alloc&) {
            // Kept or not, the next run makes do.
        }
    }

    const std::vector<ParsedConditions>& Parsed_;
    const ConditionSet& Set_;
    std::unique_ptr<Work> Work_;
    std::vector<State>& States_;
    std::size_t Open_ = 0;
    std::vector<std::optional<ConditionHit>>& TermHits_;
    std::vector<std::optional<ConditionHit>>& PatternHits_;
    std::vector<unsigned char>& NeedTerm_;
    std::vector<unsigned char>& NeedPattern_;
    std::vector<unsigned char>& Flags_;
    std::vector<unsigned char>& Upper_;
    std::vector<std::vector<int>>& Present_;
};

FolderMatcher::FolderMatcher(const std::vector<TaskConditions>& tasks, bool caseSensitive)
    : CaseSensitive_(caseSensitive) {
    const TextReader system(SystemCodePage());
    for (const TaskConditions& task : tasks) {
        Parsed_.push_back(ParseConditions(task, system));
        Selectors_.emplace_back(task, system);
    }
    Bytes_ = std::make_unique<ConditionSet>(Parsed_, SystemCodePage(), caseSensitive);
    if (SystemCodePage().IsUtf8()) {
        Text_ = Bytes_.get();
    } else {
        TextOwn_ = std::make_unique<ConditionSet>(Parsed_, CodePage::Utf8(), caseSensitive);
        Text_ = TextOwn_.get();
    }
    for (const ConditionSet::Plan& plan : Bytes_->Plans())
        Problems_.push_back(plan.Problem);
}

FolderMatcher::~FolderMatcher() = default;

const std::string& FolderMatcher::Problem(std::size_t task) const {
    return Problems_[task];
}

Selection FolderMatcher::Select(std::size_t task, const FileFacts& file,
                                WallClock::time_point now) const {
    return Selectors_[task].Check(file, now);
}

bool FolderMatcher::PlainScan(const std::vector<bool>& asked, std::size_t& task) const {
    std::size_t count = 0;
    for (std::size_t t = 0; t < asked.size(); ++t)
        if (asked[t]) {
            task = t;
            ++count;
        }
    if (count != 1)
        return false;
    const ParsedConditions& parsed = Parsed_[task];
    return parsed.Kind == MatchKind::Text && parsed.Problem.empty() && parsed.Excluded.empty();
}

TaskVerdict FolderMatcher::PlainVerdict(std::size_t task, int64_t offset) const {
    TaskVerdict v;
    v.Holds = offset >= 0;
    if (v.Holds)
        v.Found.push_back(ConditionHit{Plain(task), offset, {}});
    return v;
}

std::string FolderMatcher::Reason(std::size_t task, const TaskVerdict& verdict) const {
    if (verdict.Holds)
        return {};
    if (!Problems_[task].empty())
        return Problems_[task];
    const ParsedConditions& parsed = Parsed_[task];
    if (verdict.Excluded >= 0) {
        const ConditionTerm& term = parsed.Excluded[static_cast<std::size_t>(verdict.Excluded)];
        return std::string("it holds the excluded ") +
               (term.Words.size() > 1 ? "phrase " : "word ") + term.Text();
    }
    switch (parsed.Kind) {
    case MatchKind::Text:
        return "it does not hold " + Quoted(Plain(task));
    case MatchKind::AnyWord:
    case MatchKind::AllWords: {
        std::vector<std::size_t> missing;
        for (std::size_t i = 0; i < parsed.Wanted.size(); ++i) {
            const std::string text = parsed.Wanted[i].Text();
            if (std::none_of(verdict.Found.begin(), verdict.Found.end(),
                             [&](const ConditionHit& hit) { return hit.What == text; }))
                missing.push_back(i);
        }
        std::string reason = parsed.Kind == MatchKind::AnyWord ? "it holds none of the words "
                                                               : "it lacks the words ";
        return reason += Listed(parsed.Wanted, missing);
    }
    case MatchKind::Phrase:
        return "it does not hold the phrase " + Quoted(Joined(parsed.Wanted[0].Words));
    default:
        return "no match for the regular expression";
    }
}

std::vector<TaskVerdict> FolderMatcher::MatchBytes(ScanSource& source,
                                                   const std::vector<bool>& asked) const {
    std::size_t task = 0;
    if (PlainScan(asked, task)) {
        std::vector<TaskVerdict> verdicts(Parsed_.size());
        source.Seek(0);
        verdicts[task] = PlainVerdict(task, ScanForString(source, Plain(task), CaseSensitive_));
        return verdicts;
    }
    Run run(Parsed_, *Bytes_, asked);
    if (!run.Done()) {
        source.Seek(0);
        const std::size_t overlap = Bytes_->Overlap();
        BlockReader reader(source, overlap, Buffer(BlockReader::Capacity(overlap)),
                           Bytes_->Reader());
        TextBlock block;
        int64_t offset = 0;
        while (!run.Done() && reader.Next(block, offset))
            run.Block(block, offset, {});
    }
    return run.Finish();
}

std::vector<TaskVerdict> FolderMatcher::MatchFile(const std::string& path,
                                                  const std::vector<bool>& asked,
                                                  struct stat* status) const {
    std::vector<TaskVerdict> verdicts;
    MatchFile(path, asked, verdicts, status);
    return verdicts;
}

void FolderMatcher::MatchFile(const std::string& path, const std::vector<bool>& asked,
                              std::vector<TaskVerdict>& verdicts, struct stat* status) const {
    if (status)
        *status = {};
    std::size_t task = 0;
    if (PlainScan(asked, task)) {
        verdicts.assign(Parsed_.size(), TaskVerdict{});
        // The content matcher's scan says nothing of the file: looked at before it reads.
        if (status && stat(path.c_str(), status) != 0)
            throw EInOutError(ERROR_FILE_NOT_FOUND);
        verdicts[task] = PlainVerdict(task, ScanFileForString(path, Plain(task), CaseSensitive_));
        return;
    }
    Run run(Parsed_, *Bytes_, asked);
    if (!run.Done()) {
        ThrowIfThreadCancelled();
        const std::size_t overlap = Bytes_->Overlap();
        unsigned char* buffer = Buffer(BlockReader::Capacity(overlap));
        // The open reads the first block, as the content matcher's does.
        ReadOnlyFile file(path, buffer, BlockReader::BlockSize);
        if (status)
            *status = file.Status();
        CancellableSource source(file);
        BlockReader reader(source, overlap, buffer, Bytes_->Reader(), file.FirstBlock());
        TextBlock block;
        int64_t offset = 0;
        while (!run.Done() && reader.Next(block, offset))
            run.Block(block, offset, {});
        file.Close();
    }
    run.Finish(verdicts);
}

std::vector<TaskVerdict> FolderMatcher::MatchText(const std::vector<TextPiece>& pieces,
                                                  const std::vector<bool>& asked) const {
    Run run(Parsed_, *Text_, asked);
    for (const TextPiece& piece : pieces) {
        if (run.Done())
            break;
        const auto* data = reinterpret_cast<const unsigned char*>(piece.Text.data());
        run.Block(TextBlock{data, piece.Text.size(), true, true}, 0, piece.Label);
    }
    return run.Finish();
}

} // namespace ferry
