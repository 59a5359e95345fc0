// The way back from a worker to the player, shared by the item loading and the software
// renderer (Player.cpp, Player+Rendering.cpp).
#pragma once

#include "platform/media/Player.h"

#include <mutex>

namespace platform::media {

// The way back from a worker preparing an item: the player, while it lives (the worker
// posts under the lock, the player's end clears it under the lock).
struct Player::Mailbox {
    std::mutex mutex;
    Player* player = nullptr;
};

} // namespace platform::media
