#include "calibrate/fit/targets.h"

#include <cmath>

namespace quorin::calibrate {

namespace {

constexpr double kMargin = 0.1;

int along(int length, double fraction)
{
    return static_cast<int>(std::floor(length * fraction));
}

bool within(Point a, Point b, double distance)
{
    return std::hypot(a.x - b.x, a.y - b.y) <= distance;
}

// The target's place under each of the eight turns and mirrorings.
std::array<Point, 8> mountings(Point p)
{
    return {{{p.x, p.y},
             {1 - p.x, p.y},
             {p.x, 1 - p.y},
             {1 - p.x, 1 - p.y},
             {p.y, p.x},
             {1 - p.y, p.x},
             {p.y, 1 - p.x},
             {1 - p.y, 1 - p.x}}};
}

}  // namespace

TargetSet placeTargets(Size screen)
{
    const int left = along(screen.width, kMargin);
    const int right = screen.width - 1 - left;
    const int top = along(screen.height, kMargin);
    const int bottom = screen.height - 1 - top;
    return {{{"top-left", left, top},
             {"top-right", right, top},
             {"bottom-right", right, bottom},
             {"bottom-left", left, bottom},
             {"centre", screen.width / 2, screen.height / 2}}};
}

Point screenFraction(const Target& target, Size screen)
{
    return {(target.x + 0.5) / screen.width, (target.y + 0.5) / screen.height};
}

bool nearSomeTarget(Point device, const TargetSet& targets, Size screen, double distance)
{
    for (const Target& target : targets)
        for (const Point& place : mountings(screenFraction(target, screen)))
            if (within(device, place, distance))
                return true;
    return false;
}

}  // namespace quorin::calibrate
