#include "res/string_table.h"

#include "build_options.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>

namespace {

constexpr std::pair<int, const char*> kStrings[] = {
    {101, "&About " OSTREL_DISPLAY_NAME "..."},
    {108, "다운로드 대기 중..."},
    {110, "%1% of %2 completed"},
    {111, "%1 Bytes"},
    {112, "%1 KB"},
    {113, "%1 MB"},
    {114, "%1 (%2 다운로드)"},
    {119, "%d Bytes/초"},
    {120, "%d KB/초"},
    {131, "경고"},
    {132, "알림"},
    {133, "업데이트가 완료되었습니다. 설치를 진행합니다."},
    {138, "설정 파일 (config.xml)을 로드하지 못했습니다."},
    {139, "오류"},
    {140, "선택한 드라이브에 충분한 용량이 없습니다.\n다른 드라이브를 선택해 주십시오."},
    {141, "다운로드 할 경로를 선택하십시오."},
    {142, "최소 %s의 용량이 필요합니다.\n남은 용량: %s"},
    {143, "다운로드를 중지하겠습니까?"},
    {144, "다운로드를 중지했습니다."},
    {145, "다운로드 중지"},
    {146, "다운로드 완료"},
    {147, "다운로드 진행 중..."},
    {149, "스킨 파일을 다운로드하지 못했습니다."},
    {150, "%d MB/초"},
    {151, "옵션을 선택해 주십시오."},
    {152, "다운로드 한 파일을 실행하지 못했습니다."},
    {153, "일부 파일을 완전히 다운로드 하지 못했습니다.\n다운로드를 다시 실행해 주십시오."},
    {154, "다운로드 할 파일의 크기를 알 수 없습니다."},
    {155, "Ambrel"},
    {157, "프로그레스바 설정에 실패했습니다."},
    {158, OSTREL_CONFIG_URL_TEXT},
    {159, "설정 파일의 Base 노드를 확인하지 못했습니다."},
    {160, "설정 파일을 파싱 하지 못했습니다."},
    // Our own: the installer was not started, since nothing vouches for its bytes.
    {161, "다운로드 한 설치 파일을 검증할 수 없어 실행하지 않았습니다."},
    // Our own: what a screen reader says of the buttons and the bars.
    {171, "실행"},
    {172, "받기"},
    {173, "중지"},
    {174, "닫기"},
    {175, "폴더"},
    {176, "다운로드 한 파일을 실행합니다."},
    {177, "선택한 파일을 다운로드 합니다."},
    {178, "다운로드를 중지합니다."},
    {179, "프로그램을 닫습니다."},
    {180, "다운로드 할 경로를 선택합니다."},
    {181, "파일 진행률"},
    {182, "전체 진행률"},
};

// The service's own texts, given when the build was configured; they win over the ones above. The
// null row keeps the array valid when there are none.
constexpr std::pair<int, const char*> kOverrides[] = {
#include "string_overrides.inc"
    {0, nullptr},
};

template <std::size_t N> const char* Find(const std::pair<int, const char*> (&table)[N], int id) {
    const auto* it = std::find_if(std::begin(table), std::end(table), [id](const auto& e) { return e.first == id; });
    return it == std::end(table) ? nullptr : it->second;
}

} // namespace

std::string LoadStringId(int id) {
    const char* text = Find(kOverrides, id);
    if (text == nullptr) {
        text = Find(kStrings, id);
    }
    return text == nullptr ? std::string() : std::string(text);
}

std::string FormatStringId(int id, const std::string& insert) {
    return FormatStringId(id, insert, "?");
}

std::string FormatStringId(int id, const std::string& insert, const std::string& second) {
    const std::string text = LoadStringId(id);
    std::string out;
    out.reserve(text.size() + insert.size() + second.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            out += text[i + 1] == '1' ? insert : text[i + 1] == '2' ? second : std::string("?");
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
