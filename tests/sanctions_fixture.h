// Two member rooms with their owners (ann in 12, ben in 13) and a wizard,
// for the tests of member-room sanctions, with helpers that bring visitors
// in and discipline them.
#pragma once

#include "fixture.h"

class SanctionsHold : public HostTest
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(start("mroomdiscipline 5\n"));
        for (RoomID id : {12, 13, 14})
            host->createRoom(id, "Room " + std::to_string(id));
        ann = connect("ann", 1, 12);
        host->setRoomOwner(12, ann);
        ben = connect("ben", 1, 13);
        host->setRoomOwner(13, ben);
        wiz = connect("wiz", 2, 0);
        host->advance(2);
        lines();
    }

    ServerUserRec *visitor(const std::string &handle, RoomID room)
    {
        ServerUserRec *u = connect(handle, 1, room);
        host->advance(2);
        lines();
        return u;
    }

    // ann pins, gags and prop-gags v in her room 12.
    void discipline(ServerUserRec *v)
    {
        for (const char *cmd : {"`rpin ", "`rgag ", "`rpropgag "})
            type(ann, cmd + host->handleOf(v));
        host->advance(1);
        lines();
    }

    // A user in room 12 with the identities given, logged on.
    ServerUserRec *connectIn12(const char *handle, uint32_t ip, uint32_t counter, uint32_t puid)
    {
        vh::UserOptions o;
        o.handle = handle;
        o.ip = ip;
        o.counter = counter;
        o.puid = puid;
        o.room = 12;
        ServerUserRec *u = host->connect(o);
        host->advance(2);
        return u;
    }

    int sanctions(ServerUserRec *u, RoomID room)
    {
        return getUserSanctions(state(), u, host->room(room), ud(u));
    }

    ServerUserRec *ann = nullptr, *ben = nullptr, *wiz = nullptr;
};
