#include "platform/fs.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace tavrin::platform {

namespace {

// /proc/mounts writes blanks in mount points as octal escapes.
std::string unescapeMountPoint(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string octal = text.substr(i + 1, 3);
            if (std::all_of(octal.begin(), octal.end(),
                            [](char c) { return c >= '0' && c <= '7'; })) {
                out.push_back(static_cast<char>(std::stoi(octal, nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool isBrowsable(const std::string& mountPoint) {
    for (const char* top : {"/media/", "/mnt/", "/run/media/", "/home/"}) {
        if (mountPoint.rfind(top, 0) == 0) {
            return true;
        }
    }
    return mountPoint == "/home";
}

} // namespace

std::vector<std::string> drives() {
    std::vector<std::string> out = {"/"};
    std::ifstream mounts("/proc/mounts");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint;
        fields >> device >> mountPoint;
        mountPoint = unescapeMountPoint(mountPoint);
        if (isBrowsable(mountPoint) && std::find(out.begin(), out.end(), mountPoint) == out.end()) {
            out.push_back(mountPoint);
        }
    }
    std::sort(out.begin() + 1, out.end());
    return out;
}

} // namespace tavrin::platform
