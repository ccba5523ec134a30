// Posting to the front end: how the channel's messages leave the sender's thread.
//
// Windows posts to the main dialog's window; the command line queues a copy of
// the text for its main thread. A post never blocks and never fails loudly.
#pragma once

class IPoster {
public:
    virtual ~IPoster() = default;
    // `text` is the text the message refers to (a log line, a status slot's
    // text) or nullptr for notifications; a poster that needs it must copy it.
    virtual void Post(unsigned msg, unsigned wParam, const char* text) = 0;
};

// nullptr (the start) means no window yet: posts are lost, as to a null window.
void SetPoster(IPoster* poster);
IPoster* Poster();
