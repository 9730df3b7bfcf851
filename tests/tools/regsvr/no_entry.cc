// A loadable module without the registration exports.

extern "C" int WendrelNotARegistrant() { return 0; }
