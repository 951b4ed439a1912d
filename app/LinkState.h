#pragma once

// What the instrument link is doing, as the desktop program shows it. Connecting, searching and
// capturing are the busy states: the window needs the link until they end.
enum class LinkState {
    Disconnected,
    Connecting,
    Searching,
    Connected,
    Capturing,
};

inline bool isBusy(LinkState state)
{
    return state == LinkState::Connecting || state == LinkState::Searching || state == LinkState::Capturing;
}
