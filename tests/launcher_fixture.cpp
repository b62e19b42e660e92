#include "launcher_fixture.h"

#include "net/sha256_digest.h"

#include <sys/stat.h>

void LauncherRecordingView::FileFailed(std::size_t fileIndex, const std::string& reason) {
    failures.emplace_back(fileIndex, reason);
    rowStateWhenFailed.push_back(rowStates[fileIndex]);
}

void LauncherRecordingView::FileNotice(std::size_t fileIndex, const std::string& text) {
    notices.emplace_back(fileIndex, text);
}

void LauncherRecordingView::SurveyFailed(const std::string& url, const std::string& reason) {
    surveyFailures.emplace_back(url, reason);
}

LauncherTest::LauncherTest() {
    options.surveyRetryPauseMs = 100;
    options.reportHost = "127.0.0.1:" + std::to_string(served.server().port());
}

LauncherTest::~LauncherTest() {
    view.Shut();
    launcher.reset();
}

CLauncher& LauncherTest::Make(const std::string& configuration) {
    launcher.reset();
    config = CConfigLoader();
    EXPECT_EQ(config.LoadFromString(configuration.c_str()), CONFIG_OK);
    launcher = std::make_unique<CLauncher>(config, appDownloadPath, view, options);
    const ControlInfo* list = config.Control(CT_FILE_LIST);
    launcher->InitSelection(list != nullptr, list != nullptr && list->checked != 0);
    return *launcher;
}

CLauncher& LauncherTest::Open(const std::string& configuration) {
    CLauncher& l = Make(configuration);
    view.OnViewThread([&] { l.Start(); });
    EXPECT_TRUE(view.WaitUntil([&] { return view.buttons == kReady || view.endResult; })) << "the start did not end";
    EXPECT_EQ(Buttons(), kReady);
    return l;
}

bool LauncherTest::Run() {
    const std::size_t before = view.outcomes.size();
    bool started = false;
    view.OnViewThread([&] { started = launcher->OnBnClickedBtnDownload(); });
    if (!started) {
        return false;
    }
    EXPECT_TRUE(view.WaitUntil([&] { return view.outcomes.size() > before; })) << "the run did not end";
    return true;
}

ButtonStates LauncherTest::Buttons() {
    ButtonStates states;
    view.OnViewThread([&] { states = view.buttons; });
    return states;
}

std::string LauncherTest::Label(int section) {
    std::string text;
    view.OnViewThread([&] { text = view.labels[section]; });
    return text;
}

std::vector<std::string> LauncherTest::RowStates() {
    std::vector<std::string> states;
    view.OnViewThread([&] {
        for (std::size_t row = 0; row < launcher->selection.RowCount(); ++row) {
            states.push_back(view.rowStates[launcher->selection.FileOfRow(row)]);
        }
    });
    return states;
}

void LauncherTest::WriteLocal(const std::string& name, const std::string& content) const {
    ::mkdir((home.path() + "/Documents").c_str(), 0755);
    ::mkdir(DownloadFolder().c_str(), 0755);
    WriteWholeFile(Local(name), content);
}

std::size_t LauncherTest::CountRequests(const std::string& method, const std::string& target) const {
    std::size_t n = 0;
    for (const auto& r : served.server().Requests()) {
        n += r.method == method && r.target == target ? 1 : 0;
    }
    return n;
}

std::vector<std::string> LauncherTest::Ranges(const std::string& target) const {
    std::vector<std::string> ranges;
    for (const auto& r : served.server().Requests()) {
        if (r.method == "GET" && r.target == target) {
            ranges.push_back(r.Header("Range"));
        }
    }
    return ranges;
}

std::string LauncherTest::HexDigest(const std::string& bytes) {
    Sha256Digest digest;
    digest.Update(bytes.data(), bytes.size());
    return Sha256Hex(digest.Final());
}

std::function<void(std::string&)> LauncherTest::Retries(int retries) {
    return [retries](std::string& text) {
        text.replace(text.find("Retries=\"0\""), 11, "Retries=\"" + std::to_string(retries) + "\"");
    };
}

std::function<void(std::string&)> LauncherTest::Connections(int connections) {
    return [connections](std::string& text) {
        text.replace(text.find("Retries=\""), 9, "Connections=\"" + std::to_string(connections) + "\" Retries=\"");
    };
}

MirroredLauncherTest::~MirroredLauncherTest() {
    view.Shut();
    launcher.reset();
}

std::string MirroredLauncherTest::WithMirror(const std::string& mainUrl, const std::string& name,
                                             const std::string& attributes) const {
    return "<File Url=\"" + mainUrl + "\" " + attributes + "><Mirror Url=\"" + mirror.Url("/" + name) + "\"/></File>";
}

std::vector<RecordedRequest> MirroredLauncherTest::Gets(const ServedFolder& server, const std::string& target) {
    std::vector<RecordedRequest> gets;
    for (const auto& r : server.server().Requests()) {
        if (r.method == "GET" && r.target == target) {
            gets.push_back(r);
        }
    }
    return gets;
}
