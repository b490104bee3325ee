#include "fixture.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "vestrel-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

HostTest::HostTest() : paramPath(dir.path() + "/vestrel.conf"), host(std::make_unique<vh::Host>())
{
}

HostTest::~HostTest()
{
    host.reset();
}

void HostTest::TearDown()
{
    if (host == nullptr || !host->pluginRunning())
        return;
    host->shutdown();
    EXPECT_EQ(host->liveBlocks(), 0u) << "blocks left after shutdown";
    EXPECT_EQ(host->badFrees(), 0);
}

std::vector<std::string> HostTest::type(ServerUserRec *u, const std::string &line,
                                        ServerUserRec *to)
{
    lines();
    if (to != nullptr)
        host->whisper(u, to, line);
    else
        host->say(u, line);
    return lines();
}

bool contains(const std::vector<std::string> &out, const std::string &line)
{
    return std::find(out.begin(), out.end(), line) != out.end();
}

void HostTest::writeParams(const std::string &params)
{
    std::ofstream out(paramPath, std::ios::binary | std::ios::trunc);
    out << params;
}

#ifdef VESTREL_STATIC
void HostTest::config(const std::string &params)
{
    writeParams(params);
    ASSERT_EQ(loadParameterFile(state(), nullptr), 1);
    lines();
}
#endif

bool HostTest::start(const std::string &params)
{
    writeParams(params);
#ifdef VESTREL_STATIC
    return host->attachPlugin(staticProcs(), paramPath);
#else
    return host->loadPlugin(VESTREL_SO, paramPath);
#endif
}

std::vector<std::string> HostTest::lines()
{
    std::vector<std::string> out = host->transcript();
    host->clearTranscript();
    return out;
}

bool HostTest::saw(const std::string &line) const
{
    const auto &t = host->transcript();
    return std::find(t.begin(), t.end(), line) != t.end();
}

ServerUserRec *HostTest::connect(const std::string &handle, int rank, RoomID room)
{
    vh::UserOptions o;
    o.handle = handle;
    o.rank = rank;
    o.room = room;
    return host->connect(o);
}

UserDat *HostTest::ud(ServerUserRec *user) const
{
    return static_cast<UserDat *>(getPluginUserInfo(1, user));
}

RoomDat *HostTest::rd(RoomID room) const
{
    return static_cast<RoomDat *>(getPluginRoomInfo(1, host->room(room)));
}
