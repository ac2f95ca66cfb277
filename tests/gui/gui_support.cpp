#include "tests/gui/gui_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "window/window_core.h"

namespace {

// The toolkit remembers dialog settings (the folder browser's columns) in
// the user's configuration: each test program gets a fresh one of its own.
class QtLayerEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        configuration = std::make_unique<TempFolder>();
        setenv("XDG_CONFIG_HOME", configuration->path.c_str(), 1);
        ASSERT_TRUE(windowLayerInitialize(nullptr, nullptr));
    }
    void TearDown() override {
        windowLayerShutdown();
        configuration.reset();
    }

private:
    std::unique_ptr<TempFolder> configuration;
};

[[maybe_unused]] ::testing::Environment* const qtLayerEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtLayerEnvironment);

std::string environmentPath(const char* variable, const char* relative) {
    const char* root = std::getenv(variable);
    return std::string(root != nullptr ? root : ".") + "/" + relative;
}

}  // namespace

bool fileExists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool writeWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool copyFolderFiles(const std::string& from, const std::string& to) {
    DIR* folder = opendir(from.c_str());
    if (folder == nullptr) return false;
    bool copied = true;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        struct stat info {};
        const std::string source = from + "/" + name;
        if (stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        copied = writeWholeFile(to + "/" + name, readWholeFile(source)) && copied;
    }
    closedir(folder);
    return copied;
}

std::string sourceTreePath(const char* relative) {
    return environmentPath("VUD_SOURCE_DIR", relative);
}
std::string buildTreePath(const char* relative) {
    return environmentPath("VUD_BUILD_DIR", relative);
}

void typeIntoField(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(field, Qt::Key_Delete);
        return;
    }
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QCoreApplication::sendEvent(field, &commit);
}

std::string itemText(WindowHandle dialog, int32_t id) {
    char text[1024];
    return windowGetItemText(dialog, id, text, sizeof text) < 0 ? std::string("<failed>")
                                                                : std::string(text);
}

void answerMessageBoxes(MessageBoxAnswer answer) {
    qtTestSetMessageBoxResponder([answer](const MessageBoxRecord&) { return answer; });
}

std::string describeBox(const MessageBoxRecord& record) {
    return "[" + record.caption + "] " + record.text + " (buttons " +
           std::to_string(static_cast<int>(record.buttons)) + ", icon " +
           std::to_string(static_cast<int>(record.icon)) + ")";
}

bool serveUntil(const std::function<bool()>& done, int32_t timeoutMilliseconds) {
    return qtTestServeUntil(done, timeoutMilliseconds);
}

ServingScope::ServingScope() {
    windowcore::enterServing();
}

ServingScope::~ServingScope() {
    windowcore::leaveServing();
}
