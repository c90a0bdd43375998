// media_keys: a keyboard with the media keys, made through uinput, so that
// a hotkey daemon sees real key presses. Once the keyboard is there it
// prints "ready"; then it presses and releases each key named on a line of
// standard input (KEY_PLAYCD, KEY_STOPCD, KEY_PLAYPAUSE), and removes the
// keyboard when the input ends. Usage: media_keys < KEYS
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

struct media_key {
    const char* name;
    unsigned short code;
};

constexpr media_key keys[] = {
    {"KEY_PLAYCD", KEY_PLAYCD},
    {"KEY_STOPCD", KEY_STOPCD},
    {"KEY_PLAYPAUSE", KEY_PLAYPAUSE},
};

bool emit(int device, unsigned short type, unsigned short code, int value)
{
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return write(device, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

// A press and a release, each reported as a whole by its own sync.
bool press(int device, unsigned short code)
{
    return emit(device, EV_KEY, code, 1) && emit(device, EV_SYN, SYN_REPORT, 0) &&
           emit(device, EV_KEY, code, 0) && emit(device, EV_SYN, SYN_REPORT, 0);
}

int make_keyboard()
{
    const int device = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
    if (device < 0 || ioctl(device, UI_SET_EVBIT, EV_KEY) != 0)
        return -1;
    for (const media_key& key : keys)
        if (ioctl(device, UI_SET_KEYBIT, key.code) != 0)
            return -1;
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strcpy(setup.name, "fifo_client_1 media keys");
    if (ioctl(device, UI_DEV_SETUP, &setup) != 0 || ioctl(device, UI_DEV_CREATE) != 0)
        return -1;
    return device;
}

} // namespace

int main()
{
    const int device = make_keyboard();
    if (device < 0) {
        std::perror("media_keys: cannot make the keyboard");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);

    char line[64];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        line[std::strcspn(line, "\n")] = '\0';
        const media_key* named = nullptr;
        for (const media_key& key : keys)
            if (std::strcmp(key.name, line) == 0)
                named = &key;
        if (named == nullptr) {
            std::fprintf(stderr, "media_keys: no key %s\n", line);
            return 2;
        }
        if (!press(device, named->code)) {
            std::perror("media_keys: cannot press");
            return 1;
        }
    }
    ioctl(device, UI_DEV_DESTROY);
    close(device);
    return 0;
}
