#include "support/example_config.h"

#include "support/temp_dir.h"

std::string ExampleConfiguration(const std::string& fileElements, const std::function<void(std::string&)>& edit) {
    std::string text = ReadWholeFile(OSTREL_SOURCE_DIR "/res/config.xml");
    const std::size_t begin = text.find("<Files>");
    const std::size_t end = text.find("</Files>");
    text.replace(begin, end - begin, "<Files>" + fileElements);
    if (edit) {
        edit(text);
    }
    return text;
}

std::string FileElement(const std::string& url, const std::string& attributes) {
    return "<File Url=\"" + url + "\" " + attributes + "/>";
}
