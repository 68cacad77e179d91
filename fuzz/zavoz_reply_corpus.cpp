// Writes the corpus of service replies, as the test service words them: zavoz_reply_corpus <folder>.
#include "platform/zavoz/testing/CZvTestService.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    using Service = kvtest::CZvTestService;
    const std::vector<Service::Album> albums = {
        {"k00000000000001", "Sommer 2024", "Tab\there, 100% & more=yes", {}},
        {"k00000000000002", std::string(254, 'n') + "\xc3\xa9", "", {}},
        {"k12345678901234567890", "\xe2\x82\xac\n\r", std::string(300, 'd'), {}},
    };
    const std::vector<std::pair<std::string, std::string>> replies = {
        {"token", Service::Line("token", "s000000000001")},
        {"albums-none", Service::AlbumList({})},
        {"albums-three", Service::AlbumList(albums)},
        {"albums-count-lies", "count=4\n" + Service::AlbumList(albums).substr(8)},
        {"key", Service::Line("key", "k00000000000003")},
        {"space", Service::Line("space", "1000000")},
        {"space-negative", Service::Line("space", "-5") + "note=x\r\n"},
        {"photo", Service::Line("photo", "p000004")},
        {"photo-too-long", Service::Line("photo", std::string(64, 'p'))},
        {"bad-escape", "key=a%4\n"},
        {"albums-raw-nul", std::string("count=1\nalbum=k\0x\tn\t\n", 21)},
    };
    for (const auto& [name, body] : replies) {
        std::ofstream out(std::string(argv[1]) + "/" + name, std::ios::binary | std::ios::trunc);
        out << body;
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", name.c_str());
            return 1;
        }
    }
    return 0;
}
