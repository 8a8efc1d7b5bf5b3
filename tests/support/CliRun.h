// The kestrix tool run as a user runs it, in a fresh folder that is its
// working folder. Command lines are written as one text: "@WxH" stands for a
// JPEG of that size, OUT for out.jpg and DIR for the folder.
// Only for tests that are given KESTRIX_CLI, the tool's path.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TestSupport.h"

namespace kxtest {

class CliTest : public testing::Test {
protected:
    ProgramOutcome Run(const std::string& command)
    {
        std::vector<std::string> args;
        std::istringstream words(command);
        for (std::string word; words >> word;) args.push_back(Expand(word));
        return RunProgram(KESTRIX_CLI, args, dir.Path());
    }

    std::string Expand(std::string text)
    {
        if (text == "OUT") return out;
        if (text.starts_with('@')) return Picture(text.substr(1));
        for (size_t at = 0; (at = text.find("DIR", at)) != std::string::npos; at += dir.Path().size())
            text.replace(at, 3, dir.Path());
        return text;
    }

    // A JPEG of `size` (WxH) with a smooth mid-grey pattern, made once.
    std::string Picture(const std::string& size)
    {
        const std::string path = dir / (size + ".jpg");
        if (std::filesystem::exists(path)) return path;
        const int width = std::stoi(size), height = std::stoi(size.substr(size.find('x') + 1));
        Image image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
        for (size_t i = 0; i < image.bgr.size(); ++i) image.bgr[i] = static_cast<uint8_t>(96 + (i / 3) % 64);
        EncodeJpegFile(path, image, 95, 0 /* 4:4:4 */);
        return path;
    }

    std::vector<uint8_t> Bytes(const std::string& path) { return ReadFileBytes(Expand(path)); }

    TempDir dir;
    const std::string out = dir / "out.jpg";
};

}  // namespace kxtest
