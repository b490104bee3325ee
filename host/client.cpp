// Client messages as a user's client would build them: the bytes of a
// message, the cipher of enciphered text, and one helper per event.
#include <algorithm>
#include <cstring>

#include "host.h"

namespace vh
{

namespace
{

// A payload under construction, in host byte order.
class Payload
{
  public:
    Payload &u16(int v)
    {
        int16_t x = static_cast<int16_t>(v);
        return raw(&x, 2);
    }
    Payload &u32(uint32_t v) { return raw(&v, 4); }
    Payload &point(int x, int y) { return u16(y).u16(x); } // v first, then h
    Payload &text(const std::string &t)
    {
        bytes_.insert(bytes_.end(), t.begin(), t.end());
        bytes_.push_back(0);
        return *this;
    }
    // An enciphered text field: its size L (itself, the text and a NUL),
    // then L - 3 enciphered bytes and the NUL.
    Payload &enciphered(const std::string &t)
    {
        std::vector<uint8_t> wire = encipher(t);
        u16(static_cast<int>(wire.size() + 3));
        bytes_.insert(bytes_.end(), wire.begin(), wire.end());
        bytes_.push_back(0);
        return *this;
    }
    Payload &assets(const std::vector<AssetSpec> &props)
    {
        u32(static_cast<uint32_t>(props.size()));
        for (const AssetSpec &a : props)
            raw(&a, sizeof a);
        return *this;
    }
    Payload &raw(const void *p, size_t n)
    {
        const auto *b = static_cast<const uint8_t *>(p);
        bytes_.insert(bytes_.end(), b, b + n);
        return *this;
    }
    const std::vector<uint8_t> &bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

UserID idOf(const ServerUserRec *user)
{
    return user != nullptr ? user->user.userID : 0;
}

} // namespace

std::vector<uint8_t> encipher(const std::string &plain)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < plain.size(); i++)
        out.push_back(static_cast<uint8_t>(plain[i]) ^ static_cast<uint8_t>(0xA5 + 0x1F * i));
    return out;
}

Message::Message(uint32_t eventType, const std::vector<uint8_t> &payload, int32_t refNum)
    : words_((CLIENT_MSG_HEADER + payload.size() + 3) / 4 + 1, 0)
{
    ClientMsg *msg = get();
    msg->eventType = eventType;
    msg->length = static_cast<uint32_t>(payload.size());
    msg->refNum = refNum;
    if (!payload.empty())
        std::memcpy(msg->msg, payload.data(), payload.size());
}

void Host::say(ServerUserRec *user, const std::string &text)
{
    send(user, MSG_TALK, Payload().text(text).bytes());
}

void Host::whisper(ServerUserRec *user, ServerUserRec *target, const std::string &text)
{
    send(user, MSG_WHISPER, Payload().u32(idOf(target)).text(text).bytes());
}

void Host::xsay(ServerUserRec *user, const std::string &text)
{
    send(user, MSG_XTALK, Payload().enciphered(text).bytes());
}

void Host::xwhisper(ServerUserRec *user, ServerUserRec *target, const std::string &text)
{
    send(user, MSG_XWHISPER, Payload().u32(idOf(target)).enciphered(text).bytes());
}

void Host::globalMessage(ServerUserRec *user, const std::string &text)
{
    send(user, MSG_GMSG, Payload().text(text).bytes());
}

void Host::roomMessage(ServerUserRec *user, const std::string &text)
{
    send(user, MSG_RMSG, Payload().text(text).bytes());
}

void Host::page(ServerUserRec *user, const std::string &text)
{
    send(user, MSG_SMSG, Payload().text(text).bytes());
}

void Host::gotoRoom(ServerUserRec *user, RoomID id)
{
    send(user, MSG_ROOMGOTO, Payload().u16(id).bytes());
}

void Host::moveTo(ServerUserRec *user, int x, int y)
{
    send(user, MSG_USERMOVE, Payload().point(x, y).bytes());
}

void Host::face(ServerUserRec *user, int face)
{
    send(user, MSG_USERFACE, Payload().u16(face).bytes());
}

void Host::color(ServerUserRec *user, int color)
{
    send(user, MSG_USERCOLOR, Payload().u16(color).bytes());
}

void Host::props(ServerUserRec *user, const std::vector<AssetSpec> &props)
{
    send(user, MSG_USERPROP, Payload().assets(props).bytes());
}

void Host::desc(ServerUserRec *user, int face, int color, const std::vector<AssetSpec> &props)
{
    send(user, MSG_USERDESC, Payload().u16(face).u16(color).assets(props).bytes());
}

void Host::rename(ServerUserRec *user, const std::string &name)
{
    std::string n = name.substr(0, 255);
    uint8_t length = static_cast<uint8_t>(n.size());
    send(user, MSG_USERNAME, Payload().raw(&length, 1).raw(n.data(), n.size()).bytes());
}

void Host::dropProp(ServerUserRec *user, AssetSpec asset, int x, int y)
{
    send(user, MSG_PROPNEW, Payload().raw(&asset, sizeof asset).point(x, y).bytes());
}

void Host::moveProp(ServerUserRec *user, int32_t number, int x, int y)
{
    send(user, MSG_PROPMOVE, Payload().u32(static_cast<uint32_t>(number)).point(x, y).bytes());
}

void Host::deleteProp(ServerUserRec *user, int32_t number)
{
    send(user, MSG_PROPDEL, Payload().u32(static_cast<uint32_t>(number)).bytes());
}

// A drawing record (link, command, length, data offset) and its data.
void Host::draw(ServerUserRec *user, int command, size_t bytes)
{
    std::vector<uint8_t> p(bytes, 0);
    if (bytes >= sizeof(DrawRecord)) {
        DrawRecord record{};
        record.drawCmd = static_cast<sint16>(command);
        record.cmdLength = static_cast<uint16>(bytes - sizeof(DrawRecord));
        std::memcpy(p.data(), &record, sizeof record);
    } else if (bytes > 4) {
        p[4] = static_cast<uint8_t>(command);
    }
    send(user, MSG_DRAW, p);
}

} // namespace vh
