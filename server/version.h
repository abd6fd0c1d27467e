// orbserver's version, as `orbserver --version` prints it. Raise it with every change an
// operator would notice (a new flag, a new message served, another log line format).
#ifndef ORB_SERVER_VERSION_H
#define ORB_SERVER_VERSION_H

#define ORBSERVER_VERSION "1.1.0"

#endif
