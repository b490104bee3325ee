// A plug-in loaded from a parameter file, for the tests that load one again and read its report.
#pragma once

#include "fixture.h"

const std::string kLog = "log [vestrel]: ";

class Params : public HostTest
{
  protected:
    void SetUp() override
    {
        for (int i = 0; i < NBR_COMMANDS; i++)
            savedRanks[i] = {cmdTable[i].rank, cmdTable[i].targetRank};
        ASSERT_TRUE(start("# empty\n"));
        lines();
    }

    void TearDown() override
    {
        for (int i = 0; i < NBR_COMMANDS; i++) {
            cmdTable[i].rank = savedRanks[i].first;
            cmdTable[i].targetRank = savedRanks[i].second;
        }
    }

    // Loads this text as the parameter file, as a reload would.
    int load(const std::string &text, ServerUserRec *user = nullptr)
    {
        writeParams(text);
        lines();
        return loadParameterFile(state(), user);
    }

    // The log lines of the plug-in since the last call, without their tag.
    std::vector<std::string> logged()
    {
        std::vector<std::string> out;
        for (const std::string &l : lines()) {
            if (l.rfind(kLog, 0) == 0)
                out.push_back(l.substr(kLog.size()));
        }
        return out;
    }

    // The problems reported, as their messages.
    std::vector<std::string> problems()
    {
        std::vector<std::string> out;
        for (const std::string &l : logged()) {
            if (l.rfind("Problem ", 0) == 0)
                out.push_back(l);
        }
        return out;
    }

    LimitValue *slot(int n) const { return state()->limits[n]; }

    std::pair<int, int> savedRanks[NBR_COMMANDS];
};

const std::vector<std::string> kPlainSettings = {
    "gpagelength 0",  "guestwiz yes",        "hideoperators no", "memberrwho no",
    "mroombg off",    "mroomdiscipline off", "pagelength 0",     "rownerinroom no",
    "rtakedelay off", "wizinmemberrooms no",
};
