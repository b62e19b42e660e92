#pragma once

// The state words of a file's row during a run.
constexpr const char* kStateWaiting = "대기중";
constexpr const char* kStateTransferring = "전송중";
constexpr const char* kStateDone = "완료";
constexpr const char* kStateFailed = "실패";
constexpr const char* kStateSkipped = "건너뜀";
