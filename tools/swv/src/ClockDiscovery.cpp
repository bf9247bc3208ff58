#include "dravik/swv/ClockDiscovery.h"

#include <algorithm>

#include "dravik/clock/ClockReport.h"

namespace dravik::swv {

namespace {

// Parts that divide the clock before the TPIU divide it by these.
constexpr unsigned kCoreDivisors[] = {2, 4};

RateChoice rateAt(uint32_t clockHz, const RateOptions& request) {
    if (request.prescaler) {
        // The divider was given: each clock keeps it, and the probe is told clock / divider.
        return rateForPrescaler(clockHz, *request.prescaler).value_or(RateChoice{});
    }
    return solvePrescaler(clockHz, request.rateBps.value_or(0)).value_or(RateChoice{});
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

}  // namespace

std::vector<ClockCandidate> clockCandidates(uint32_t coreHz, const std::vector<uint32_t>& listed) {
    std::vector<ClockCandidate> candidates;
    auto add = [&candidates](ClockCandidate candidate) {
        const bool known = std::any_of(
            candidates.begin(), candidates.end(),
            [&candidate](const ClockCandidate& other) { return other.hz == candidate.hz; });
        if (candidate.hz != 0 && !known) {
            candidates.push_back(candidate);
        }
    };
    add({coreHz, CandidateOrigin::Measured, 1});
    for (unsigned divisor : kCoreDivisors) {
        add({coreHz / divisor, CandidateOrigin::CoreDivided, divisor});
    }
    for (uint32_t hz : listed) {
        add({hz, CandidateOrigin::Listed, 1});
    }
    return candidates;
}

std::string describeCandidate(const ClockCandidate& candidate) {
    std::string hz = clock::formatHz(candidate.hz);
    switch (candidate.origin) {
        case CandidateOrigin::Measured:
            return hz;
        case CandidateOrigin::CoreDivided:
            return hz + " (core clock / " + std::to_string(candidate.divisor) + ")";
        case CandidateOrigin::Listed:
            return hz + " (from --clock-candidates)";
    }
    return hz;
}

TrialJudgement judgeTrial(const HealthVerdict& verdict) {
    switch (verdict.condition) {
        case StreamCondition::NoTrace:
        case StreamCondition::TooLittle:
            return TrialJudgement::Inconclusive;
        case StreamCondition::Corrupt:
            return TrialJudgement::Corrupt;
        case StreamCondition::Healthy:
        case StreamCondition::StrayPorts:
        case StreamCondition::Overflowing:
            break;
    }
    return TrialJudgement::Decodes;
}

ClockDiscovery discoverTraceClock(const std::vector<ClockCandidate>& candidates,
                                  const RateOptions& request, const ClockTrialRunner& run,
                                  const ClockTrialObserver& onTrial) {
    using Outcome = ClockDiscovery::Outcome;
    ClockDiscovery discovery;
    auto decided = [&](const ClockTrial& trial) {
        discovery.trials.push_back(trial);
        if (onTrial) {
            onTrial(trial);
        }
    };
    bool anyTried = false;
    for (const ClockCandidate& candidate : candidates) {
        ClockTrial trial;
        trial.candidate = candidate;
        trial.rate = rateAt(candidate.hz, request);
        if (trial.rate.prescaler == 0 || (!trial.rate.withinTolerance() && !request.force)) {
            decided(trial);
            continue;
        }
        const std::optional<HealthVerdict> verdict = run(candidate, trial.rate);
        if (!verdict) {
            discovery.outcome = Outcome::Aborted;
            return discovery;
        }
        trial.verdict = *verdict;
        trial.judgement = judgeTrial(*verdict);
        // Silence proves nothing either way: the first clock tried stands unless its bytes argued
        // against it. After a clock that did not decode, only one that decodes will do.
        if (trial.judgement == TrialJudgement::Decodes) {
            discovery.outcome = Outcome::Confirmed;
        } else if (trial.judgement == TrialJudgement::Inconclusive && !anyTried) {
            discovery.outcome = Outcome::Unconfirmed;
        }
        anyTried = true;
        trial.kept = discovery.kept();
        decided(trial);
        if (trial.kept) {
            return discovery;
        }
    }
    discovery.outcome = anyTried ? Outcome::NoneDecodes : Outcome::NoneUsable;
    return discovery;
}

std::string describeTrial(const ClockTrial& trial) {
    std::string head = "trace clock " + clock::formatHz(trial.candidate.hz) + ": ";
    const StreamTally& span = trial.verdict.span;
    switch (trial.judgement) {
        case TrialJudgement::Skipped:
            return head + "skipped: no prescaler gives " + std::to_string(trial.rate.requestedBps) +
                   " bit/s within 3 % (the closest is " + describeRate(trial.rate) + ")";
        case TrialJudgement::Decodes:
            return head + std::to_string(span.bytes) + " bytes, and they decode";
        case TrialJudgement::Corrupt:
            return head + "does not decode (" + undecodableShare(span) + " formed no packet)";
        case TrialJudgement::Inconclusive:
            return head + "not confirmed: " + describeVerdict(trial.verdict);
    }
    return head;
}

std::string describeClocksTried(const ClockDiscovery& discovery) {
    std::vector<std::string> tried, skipped;
    for (const ClockTrial& trial : discovery.trials) {
        const std::string clock = trial.candidate.origin == CandidateOrigin::Measured
                                      ? "the measured " + describeCandidate(trial.candidate)
                                      : describeCandidate(trial.candidate);
        (trial.judgement == TrialJudgement::Skipped ? skipped : tried).push_back(clock);
    }
    std::string text;
    if (!tried.empty()) {
        text = "tried " + joined(tried);
    }
    if (!skipped.empty()) {
        text +=
            (text.empty() ? "" : "; ") + std::string("skipped for the rate: ") + joined(skipped);
    }
    return text;
}

std::string describeDiscovery(const ClockDiscovery& discovery) {
    using Outcome = ClockDiscovery::Outcome;
    const std::string give = "  give the clock the TPIU divides with --clock HZ\n";
    switch (discovery.outcome) {
        case Outcome::Confirmed:
        case Outcome::Unconfirmed: {
            const ClockCandidate& kept = discovery.keptTrial().candidate;
            std::string text = "using trace clock " + clock::formatHz(kept.hz);
            if (kept.origin == CandidateOrigin::CoreDivided) {
                text += ", the core clock / " + std::to_string(kept.divisor);
            } else if (kept.origin == CandidateOrigin::Listed) {
                text += ", from --clock-candidates";
            }
            if (discovery.outcome == Outcome::Unconfirmed) {
                return text + ", unconfirmed\n";
            }
            // A clock confirmed at the first try needs no more words than its trial's.
            return discovery.trials.size() == 1 ? std::string() : text + "\n";
        }
        case Outcome::NoneDecodes:
            return "the trace decodes at none of the clocks tried\n  " +
                   describeClocksTried(discovery) + "\n" + give;
        case Outcome::NoneUsable:
            return "no clock tried gives the SWO rate within 3 %\n  " +
                   describeClocksTried(discovery) +
                   "\n  choose another --swo-rate or accept the closest with --force,\n  or give "
                   "the clock the TPIU divides with --clock HZ\n";
        case Outcome::Aborted:
            break;
    }
    return {};
}

}  // namespace dravik::swv
