// wendrel_bare.exe: a Windows program that loads nothing of its own and does
// nothing, the floor of qzlogin.exe's process start under Wine.

int main() { return 0; }
