// Client messages from users of every rank, each delivered through the host
// exactly as a client's message is. An input is a run of records:
//   user (1 byte), advance (1 byte: seconds when its top bit is set),
//   kind (1 byte), then what the kind reads.
// Kinds below kShaped build the events whose interesting inputs are long
// or shaped (enciphered text with its length field, names at 31, 32 and
// 255 characters, prop lists, drawings, loose-prop numbers); the others
// send four bytes of event code and a payload of any bytes.
#include "world.h"

namespace
{

const char kParams[] = "chat 8 1 public private member warn\n"
                       "chat 20 1 altmember warn\n"
                       "repchat 3 0.2 all warn\n"
                       "page 2 0.5 all warn\nreppage 1 0.1 all\n"
                       "roommsg 2 0.2 all\nspoof all warn\nmimick 12 all warn\n"
                       "move 30 0.2 all warn\nslide 30 0.2 all\nzone 12 all warn\n"
                       "avatarzone 12 all warn\nfacechange 10 0.5 all warn\n"
                       "avatarchange 40 2 all warn\nnamechange 10 0.1 all warn\n"
                       "spotstatechange 30 0.5 all\nroomgoto 10 0.1 all\n"
                       "draw 50 0.1 all warn\npropdrop 10 1 all warn\n"
                       "clearlooseprops 8 all\ngodonly rm9\ntake rm5\n"
                       "nodupavatars rm0-6 warn\npinx 300 200 rm8\n"
                       "idle 1 0 private\nchatgoto 6 open sesame\n"
                       "chatgoto currentroom refresh\ndupip 3\n"
                       "newroom 2 0.01 all warn\npagelength 3\ngpagelength 5\n"
                       "pageresponse Thanks.\ngpageresponse The owners know.\n"
                       "wizinmemberrooms yes\nhideoperators yes\nguestwiz no\n"
                       "mroomdiscipline 4\nrtakedelay 5\nmemberrwho yes\n"
                       "autoannounce 09:00:30 Good morning\n";

std::vector<fuzz::UserSpec> worldUsers()
{
    return {{"guest", 0, 0, 0x0A000001},
            {"member", 1, 0, 0x0A000002},
            {"mel", 1, fuzz::World::kMemberRoom, 0x0A000003, 0, 0, fuzz::World::kMemberRoom},
            {"wiz", 2, 5, 0x0A000004},
            {"god", 3, 0, 0x0A000004}};
}

const uint32_t kCodes[] = {MSG_TALK,       MSG_GMSG,     MSG_RMSG,           MSG_SMSG,
                           MSG_WHISPER,    MSG_XTALK,    MSG_XWHISPER,       MSG_ROOMGOTO,
                           MSG_USERMOVE,   MSG_DRAW,     MSG_USERCOLOR,      MSG_USERFACE,
                           MSG_USERDESC,   MSG_USERPROP, MSG_USERNAME,       MSG_PROPNEW,
                           MSG_PROPMOVE,   MSG_PROPDEL,  MSG_SPOTSTATE,      MSG_DOORLOCK,
                           MSG_DOORUNLOCK, MSG_LOGON,    MSG_LISTOFALLUSERS, MSG_LISTOFALLROOMS,
                           MSG_SUPERUSER,  MSG_PING};

constexpr uint8_t kShaped = 12;

std::string text(fuzz::Reader &in)
{
    // Lengths around the buffers that matter: 0..255 from the byte, and
    // the top values stretched to the 256-byte decipher buffer and beyond.
    size_t n = in.byte();
    if (n >= 250)
        n = 250 + (n - 250) * 2;
    auto b = in.bytes(n);
    return std::string(b.begin(), b.end());
}

std::vector<AssetSpec> props(fuzz::Reader &in)
{
    std::vector<AssetSpec> out(in.byte() % 11); // up to two past the nine a user wears
    for (AssetSpec &a : out)
        a = AssetSpec{static_cast<AssetID>(in.byte() % 8), in.byte() % 2u};
    return out;
}

void shaped(fuzz::World &w, ServerUserRec *u, uint8_t kind, fuzz::Reader &in)
{
    vh::Host &h = w.host();
    ServerUserRec *other = w.user(in.byte());
    switch (kind) {
    case 0:
        h.say(u, text(in));
        break;
    case 1:
        h.whisper(u, other, text(in));
        break;
    case 2:
        h.xsay(u, text(in));
        break;
    case 3:
        h.xwhisper(u, other, text(in));
        break;
    case 4: {
        static const size_t lengths[] = {0, 1, 31, 32, 255};
        uint8_t pick = in.byte();
        std::string name = pick < 5 ? std::string(lengths[pick], 'n') : text(in);
        h.rename(u, name);
        break;
    }
    case 5:
        h.props(u, props(in));
        break;
    case 6: {
        int face = static_cast<int8_t>(in.byte()), color = static_cast<int8_t>(in.byte());
        h.desc(u, face, color, props(in));
        break;
    }
    case 7:
        h.draw(u, in.byte() % 7, in.u16() % 2048);
        break;
    case 8:
        h.dropProp(u, AssetSpec{in.byte() % 4, 0}, in.byte(), in.byte());
        break;
    case 9:
        h.moveProp(u, static_cast<int8_t>(in.byte()), in.byte(), in.byte());
        break;
    case 10:
        h.deleteProp(u, static_cast<int8_t>(in.byte()));
        break;
    default: {
        const auto &rooms = w.rooms();
        uint8_t pick = in.byte();
        h.gotoRoom(u, pick < rooms.size() * 4 ? rooms[pick % rooms.size()]
                                              : static_cast<int8_t>(pick));
        break;
    }
    }
}

fuzz::World *g_world = nullptr;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // One world serves 2,000 inputs: this target looks for faults of memory
    // and bounds, which an input shows by itself, and a world built for
    // every input would run a seventh as many.
    if (g_world == nullptr)
        g_world = new fuzz::World(kParams, worldUsers(), true, 2000);
    fuzz::World &w = *g_world;
    fuzz::Reader in(data, size);
    for (int records = 0; !in.empty() && records < 64; records++) {
        ServerUserRec *u = w.user(in.byte());
        uint8_t advance = in.byte();
        if (advance & 0x80)
            w.host().advance(advance & 0x3F);
        uint8_t kind = in.byte();
        if (u == nullptr)
            continue; // disconnected by an earlier record
        if (kind < kShaped) {
            shaped(w, u, kind, in);
        } else {
            uint8_t pick = in.byte();
            uint32_t code = pick < sizeof kCodes / sizeof kCodes[0] ? kCodes[pick] : in.u32();
            w.host().send(u, code, in.bytes(in.u16() % 600));
        }
    }
    w.reset();
    return 0;
}
