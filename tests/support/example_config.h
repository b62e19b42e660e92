#pragma once

#include <functional>
#include <string>

// The worked example configuration (res/config.xml) whose <Files> element holds `fileElements`, after
// `edit`.
std::string ExampleConfiguration(const std::string& fileElements,
                                 const std::function<void(std::string&)>& edit = nullptr);

// `<File Url="URL" ATTRIBUTES/>`
std::string FileElement(const std::string& url, const std::string& attributes = "");
