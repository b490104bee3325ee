// A small host with the plug-in loaded, for tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "vestrel.h"

class TempDir
{
  public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

class HostTest : public ::testing::Test
{
  protected:
    HostTest();
    ~HostTest() override;
    // Every test ends with a shutdown that leaves no block allocated.
    void TearDown() override;

    // Writes the parameter file and starts the plug-in with it.
    bool start(const std::string &params = "");
    void writeParams(const std::string &params);
#ifdef VESTREL_STATIC
    // Replaces the configuration, as a reload does, and clears the transcript.
    void config(const std::string &params);
#endif
    // The transcript since the last call, then cleared.
    std::vector<std::string> lines();
    // Whether the transcript since the last lines() holds this line.
    bool saw(const std::string &line) const;
    // What one typed line (whispered when `to` is set) shows, from a clean
    // transcript.
    std::vector<std::string> type(ServerUserRec *u, const std::string &line,
                                  ServerUserRec *to = nullptr);

    MyState *state() const
    {
        return static_cast<MyState *>(host->pluginData());
    }
    ServerUserRec *connect(const std::string &handle, int rank = 1, RoomID room = 0);
    UserDat *ud(ServerUserRec *user) const;
    RoomDat *rd(RoomID room) const;

    TempDir dir;
    std::string paramPath;
    std::unique_ptr<vh::Host> host;
};

bool contains(const std::vector<std::string> &out, const std::string &line);

#ifdef VESTREL_STATIC
#include "static_procs.h"
#endif
