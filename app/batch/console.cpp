#include "app/batch/console.h"

namespace sigillon::batch {

std::string PlainLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        line += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    return line;
}

}  // namespace sigillon::batch
