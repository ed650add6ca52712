#include "wayland_rules.h"

#include <algorithm>

namespace xdesk::wayland {

Match matchToplevel(const std::vector<Toplevel>& toplevels, const WantedWindow& wanted) {
    bool ambiguous = false;
    for (const std::string& title : wanted.titles) {
        std::vector<std::size_t> titled;
        for (std::size_t i = 0; i < toplevels.size(); ++i) {
            if (toplevels[i].title == title) {
                titled.push_back(i);
            }
        }
        std::vector<std::size_t> named;
        for (std::size_t i : titled) {
            if (std::find(wanted.appIds.begin(), wanted.appIds.end(), toplevels[i].appId) !=
                wanted.appIds.end()) {
                named.push_back(i);
            }
        }
        const std::vector<std::size_t>& candidates = named.empty() ? titled : named;
        if (candidates.size() == 1) {
            return {MatchKind::one, candidates.front()};
        }
        ambiguous = ambiguous || candidates.size() > 1;
    }
    return {ambiguous ? MatchKind::ambiguous : MatchKind::none, 0};
}

void FrameActivations::start(const Frame& frame, pid_t pid) {
    active.assign(1, {frame, pid});
    announced = pid;
    noneActiveSince.reset();
    lastDeactivated.reset();
}

std::optional<pid_t> FrameActivations::activated(const Frame& frame, pid_t pid, int64_t nowNanos) {
    const bool cameBack =
        noneActiveSince && active.empty() &&
        (lastDeactivated == frame || nowNanos - *noneActiveSince >= switchGraceNanos);
    const auto known = std::find_if(active.begin(), active.end(),
                                    [&](const auto& entry) { return entry.first == frame; });
    if (known == active.end()) {
        active.emplace_back(frame, pid);
    }
    noneActiveSince.reset();
    if (announced == pid && !cameBack) {
        return std::nullopt;
    }
    announced = pid;
    return pid;
}

void FrameActivations::deactivated(const Frame& frame, int64_t nowNanos) {
    active.erase(std::remove_if(active.begin(), active.end(),
                                [&](const auto& entry) { return entry.first == frame; }),
                 active.end());
    if (active.empty() && !noneActiveSince) {
        noneActiveSince = nowNanos;
        lastDeactivated = frame;
    }
}

void FrameActivations::applicationLeft(const std::string& application, int64_t nowNanos) {
    const auto left = std::find_if(active.begin(), active.end(), [&](const auto& entry) {
        return entry.first.application == application;
    });
    if (left == active.end()) {
        return;
    }
    active.erase(
        std::remove_if(left, active.end(),
                       [&](const auto& entry) { return entry.first.application == application; }),
        active.end());
    if (active.empty() && !noneActiveSince) {
        noneActiveSince = nowNanos;
        lastDeactivated.reset(); // its windows will not come back
    }
}

} // namespace xdesk::wayland
