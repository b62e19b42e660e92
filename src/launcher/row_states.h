#pragma once

#include <cstddef>
#include <string>

// The state words of a file's row during a run.
constexpr const char* kStateWaiting = "대기중";
constexpr const char* kStateTransferring = "전송중";
constexpr const char* kStateDone = "완료";
constexpr const char* kStateFailed = "실패";
constexpr const char* kStateSkipped = "건너뜀";
// Complete, but nothing vouches for its bytes, so it is not started.
constexpr const char* kStateUnverified = "검증 안 됨";

// The transferring state of a file that comes from its mirror number `mirror` (1 for the first).
constexpr const char* kStateMirrorPrefix = "미러 ";
inline std::string MirrorState(std::size_t mirror) {
    return kStateMirrorPrefix + std::to_string(mirror);
}
// The mirror's number of such a state (as its text), or empty.
inline std::string MirrorOfState(const std::string& state) {
    const std::string prefix = kStateMirrorPrefix;
    return state.rfind(prefix, 0) == 0 ? state.substr(prefix.size()) : std::string();
}
