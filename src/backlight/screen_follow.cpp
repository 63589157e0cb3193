#include "backlight/screen_follow.h"

#include <syslog.h>

#include <cerrno>
#include <utility>

namespace quorin {

ScreenFollow::ScreenFollow(std::string option) : option(std::move(option)) {}

std::optional<bool> ScreenFollow::check(Clock::time_point now)
{
    if (!chosen)
        choose();
    if ((name.empty() && !looking) || now < due)
        return std::nullopt;
    if (looking)
        lookAgain();
    if (name.empty()) {
        due = now + kScreenReadWhileOn;
        return std::nullopt;
    }
    const std::optional<bool> change = filter.take(read());
    due = now + filter.nextRead();
    return change;
}

std::optional<bool> ScreenFollow::on() const
{
    if (name.empty())
        return std::nullopt;
    return filter.on();
}

// Looking for a screen rides the loop's own turns: no wake-up of its own.
std::optional<ScreenFollow::Clock::time_point> ScreenFollow::nextCheck() const
{
    if (name.empty())
        return std::nullopt;
    return due;
}

void ScreenFollow::choose()
{
    chosen = true;
    if (option == "none")
        return;
    if (!option.empty()) {
        follow(option);
        syslog(LOG_USER | LOG_INFO, "Following the screen %s", name.c_str());
        return;
    }
    const ScreenChoice choice = chooseScreen(listConnectors());
    syslog(LOG_USER | (choice.name.empty() ? LOG_NOTICE : LOG_INFO), "%s", choice.message.c_str());
    follow(choice.name);
    looking = choice.lookAgain;
}

void ScreenFollow::follow(const std::string& connector)
{
    name = connector;
    if (!name.empty())
        files.emplace(name);
}

// Said once: the start said that none was connected.
void ScreenFollow::lookAgain()
{
    const ScreenChoice choice = chooseScreen(listConnectors());
    if (choice.lookAgain)
        return;
    looking = false;
    follow(choice.name);
    syslog(LOG_USER | (name.empty() ? LOG_NOTICE : LOG_INFO), "%s", choice.message.c_str());
}

ScreenPower ScreenFollow::read()
{
    int error = 0;
    const ScreenPower power = files->read(error);
    if (error != 0 && !readFailing) {
        errno = error;
        syslog(LOG_USER | LOG_ERR, "Screen not read: %s: %m; taken as on",
               screenFile(name, "dpms").c_str());
    }
    readFailing = error != 0;
    return error != 0 ? ScreenPower::on : power;
}

}  // namespace quorin
