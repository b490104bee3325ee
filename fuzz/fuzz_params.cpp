// Parameter files: the input is a file. The plug-in starts with it, an
// operator reloads it, then a second file, and the plug-in shuts down with
// nothing left allocated; a minute or two of the clock runs between. When
// the input does not load at start, the
// plug-in starts with the second file and the operator reloads the input.
#include <fstream>

#include "static_procs.h"
#include "world.h"

namespace
{

const char kSecond[] = "chat 10 1 public warn\nchatgoto 5 go five\ndupip 2 10.*.*.*\n"
                       "autoannounce 09:00:05 Hello\nsetrank gmsg member\nidle 1 5 public\n"
                       "mroomdiscipline 3\npageresponse ok\n";

void writeFile(const std::string &path, const uint8_t *data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzz::tempDir() + "/vestrel.conf";
    fuzz::restoreRanks();
    {
        vh::Host host;
        host.setQuiet(true);
        host.createRoom(5, "Five");
        writeFile(path, data, size);
        bool inputFirst = host.attachPlugin(staticProcs(), path);
        if (!inputFirst) {
            fuzz::requireClean(host, true);
            writeFile(path, reinterpret_cast<const uint8_t *>(kSecond), sizeof kSecond - 1);
            if (!host.attachPlugin(staticProcs(), path))
                std::abort();
        }
        vh::UserOptions o;
        o.handle = "olga";
        o.rank = 2;
        ServerUserRec *olga = host.connect(o);
        o.handle = "bob";
        o.rank = 1;
        ServerUserRec *bob = host.connect(o);
        host.say(olga, "`vestrel reload");
        host.say(bob, "go five");
        host.advance(70);
        if (inputFirst)
            writeFile(path, reinterpret_cast<const uint8_t *>(kSecond), sizeof kSecond - 1);
        else
            writeFile(path, data, size);
        host.say(olga, "`vestrel reload");
        host.advance(61); // the clock starts at 09:00:00: announcements due by then fire
        host.shutdown();
        fuzz::requireClean(host, true);
    }
    fuzz::restoreRanks();
    return 0;
}
