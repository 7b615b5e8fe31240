/* Holds the X pointer, as another program may: grabs it on the root window,
 * prints "grabbed" once it has it, and keeps it until killed. Exits 1 when
 * the display cannot be opened or the grab is refused. Used by e2e.sh. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <unistd.h>

int main(void) {
  Display* display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "grab_pointer: cannot open the display\n");
    return 1;
  }
  const int status = XGrabPointer(display, DefaultRootWindow(display), False, ButtonPressMask,
                                  GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
  if (status != GrabSuccess) {
    fprintf(stderr, "grab_pointer: XGrabPointer gave %d\n", status);
    return 1;
  }
  XSync(display, False);
  printf("grabbed\n");
  fflush(stdout);
  for (;;) pause();
}
