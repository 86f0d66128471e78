// The put's listing, as lines or as one JSON document.
#include "show/put_listing.h"

#include "show/json_text.h"
#include "text/messages.h"

namespace d88cut {

namespace {

// The widest file name and action, and a blank.
constexpr int kNameWidth = 8;
constexpr int kActionWidth = 9;

const char* actionWord(PutAction action) {
    switch (action) {
        case PutAction::kLeft: return "left";
        case PutAction::kUnchanged: return "unchanged";
        case PutAction::kPut: return "put";
        case PutAction::kRefused: break;
    }
    return "refused";
}

void listText(const char* copy, const DiskAccount* disk, const PutReport& report) {
    if (disk == nullptr) return;
    say("disk ", report.disk, " put into ", Name{copy});
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const Left name = {disk->files[i].name, kNameWidth};
        if (report.refusal[i][0] == '\0') {
            say("  ", name, actionWord(report.action[i]));
        } else {
            say("  ", name, Left{actionWord(report.action[i]), kActionWidth}, report.refusal[i]);
        }
    }
}

void listJson(const char* image, const char* copy, const DiskAccount* disk, const PutReport& report,
              int status) {
    LineWriter head;
    head.stream = stdout;
    putAll(head, "{\"image\": ", JsonText{image}, ", \"put\": ", JsonText{copy}, ", \"disk\": ");
    if (disk != nullptr) {
        putAll(head, report.disk, ",\n");
    } else {
        put(head, "null,\n");
    }
    flushLine(head);
    say(" \"files\": [");
    for (std::int32_t i = 0; disk != nullptr && i < kFileCount; ++i) {
        LineWriter line;
        line.stream = stdout;
        putAll(line, i == 0 ? "  {" : " ,{", "\"name\": ", JsonText{disk->files[i].name},
               ", \"action\": \"", actionWord(report.action[i]), "\", \"refusal\": ");
        if (report.refusal[i][0] != '\0') {
            putAll(line, JsonText{report.refusal[i]}, "}\n");
        } else {
            put(line, "null}\n");
        }
        flushLine(line);
    }
    say(" ],");
    say(" \"status\": ", status, "}");
}

}  // namespace

void listPut(const char* image, const char* copy, const DiskAccount* disk, const PutReport& report,
             bool json, int status) {
    if (json) {
        listJson(image, copy, disk, report, status);
    } else {
        listText(copy, disk, report);
    }
}

}  // namespace d88cut
