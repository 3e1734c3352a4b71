#pragma once

class Resolver;

// The composition root: the one place that names concrete service classes.
void registerAllServices(Resolver &resolver);
