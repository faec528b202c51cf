#include "startup/startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "console/console.h"
#include "disk/discovery.h"
#include "disk/tools.h"
#include "flows/cdrom.h"
#include "flows/hard_disk.h"
#include "flows/network.h"
#include "packages/roots.h"
#include "platform/child_process.h"
#include "platform/kernel_modules.h"
#include "platform/pending_interrupt.h"
#include "platform/platform.h"
#include "startup/interrupt.h"

namespace {

// Results are ignored on purpose: a missing kernel file system shows later, where it is needed.
void MountKernelFileSystems() {
  MountFileSystem("proc", "/proc", "proc", 0, nullptr);
  mkdir("/sys", 0755);
  MountFileSystem("sysfs", "/sys", "sysfs", 0, nullptr);
  mkdir(TargetPath("").c_str(), 0755);
  mkdir("/ram", 0755);
}

// Without a virtual console the first serial port is the console and tools write to nowhere.
void ChooseConsole() {
  int virtualConsole = open("/dev/tty0", O_WRONLY);
  if (virtualConsole >= 0) {
    close(virtualConsole);
    return;
  }
  SetLogTerminal("/dev/null");
  int input = open("/dev/ttyS0", O_RDONLY);
  int output = open("/dev/ttyS0", O_WRONLY);
  // Without the serial port the inherited streams are still better than none.
  if (input >= 0 && output >= 0) {
    dup2(input, 0);
    dup2(output, 1);
    dup2(output, 2);
  }
  for (int descriptor : {input, output}) {
    if (descriptor > 2) {
      close(descriptor);
    }
  }
}

void SetSignal(int signal, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

void InstallSignalHandlers() {
  InstallInterruptHandler();
  SetSignal(SIGPIPE, SIG_IGN, 0);
  SetSignal(SIGCHLD, SIG_DFL, SA_RESTART);
}

void OpenLcd() {
  lcdDescriptor = -1;
  FILE* numbers = fopen("/sys/class/misc/lcd/dev", "r");
  if (numbers == nullptr) {
    return;
  }
  int major, minor;
  if (fscanf(numbers, "%d:%d", &major, &minor) == 2) {
    MakeNode("/dev/lcd", S_IFCHR | 0666, makedev(major, minor));  // an existing node is reused
    lcdDescriptor = open("/dev/lcd", O_RDWR);
  } else {
    puts("ERROR: strange format for lcd dev");
  }
  fclose(numbers);
}

bool HasArgument(int argc, char** argv, const char* wanted) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], wanted) == 0) {
      return true;
    }
  }
  return false;
}

void ReadInstallationType(char (&type)[80]) {
  memset(type, 0, sizeof type);
  FILE* file = fopen("/TYPE", "r");
  if (file == nullptr) {
    return;
  }
  if (fgets(type, sizeof type, file) == nullptr) {
    type[0] = '\0';
  }
  fclose(file);
  type[strcspn(type, "\n")] = '\0';
}

// The CD-ROM path always counts as failed, so that the user reads the outcome before the reboot.
bool RunCdromInstallation(TargetDisk& target) {
  EnterRawMode(processConsole);
  puts("Loading drivers");
  LoadModuleList(diskDriverModules);
  LoadModuleList(usbModules);
  if (FindTargetDisk(target)) {
    InstallFromCdrom(target);
  }
  return false;
}

// Runs the flow that the command line and the type choose; true when it succeeded.
bool Dispatch(bool hardDiskInstall, const char* type, TargetDisk& target) {
  if (hardDiskInstall) {
    return InstallFromHardDisk(target);
  }
  if (strcmp(type, "cdrom") == 0) {
    return RunCdromInstallation(target);
  }
  if (strcmp(type, "net") == 0) {
    return InstallFromNetwork(target);
  }
  puts("FATAL ERROR: internal error");
  return false;
}

int EndRun(bool succeeded) {
  // A successful flow has written the marker into the new system already.
  WriteMarker("/SHOW_LICENSE");
  // As in the abort: a boot partition left mounted would keep the target root busy.
  UnmountFileSystem(TargetPath("/boot").c_str());
  UnmountFileSystem("/floppy");
  UnmountFileSystem(TargetPath("").c_str());
  installationFinished = 1;
  if (!succeeded) {
    puts("Press ENTER to reboot");
    WaitForEnter();
  }
  RestoreConsole(processConsole);
  puts("");
  puts("Rebooting...");
  fflush(stdout);
  SyncAndReboot();
  return 0;
}

// Start-up after the init wrapper, the flow and the ending.
int Install(int argc, char** argv) {
  MountKernelFileSystems();
  ChooseConsole();
  processConsole = ConsoleState{};
  InstallSignalHandlers();
  LoadModule("drivers/net/atl1c.ko");
  OpenLcd();
  TargetDisk target{};
  bool hardDiskInstall = HasArgument(argc, argv, "-hdd-install");
  char type[80];
  ReadInstallationType(type);
  return EndRun(Dispatch(hardDiskInstall, type, target));
}

}  // namespace

// As init, the installer runs in a child and the first process only waits, so that the machine
// never sees its first process end.
int RunInstaller(int argc, char** argv) {
  // Run by hand on a working machine, the installer would load modules, repartition its disks and
  // reboot it: it goes on only as the first process, which only a boot medium starts.
  if (getpid() != 1) {
    fputs("installer: not the first process of an installation medium; nothing was done\n", stderr);
    return 1;
  }
  if (argc < 1 || strstr(argv[0], "init") == nullptr) {
    return Install(argc, argv);
  }
  ChildPlan inheritEverything;
  inheritEverything.closeInherited = false;
  pid_t child = StartChild(inheritEverything, [&] { return Install(argc, argv); });
  // Without a child there is nobody to wait for: this process installs.
  return child < 0 ? Install(argc, argv) : WaitForChild(child);
}
