// Placeholder until the data layer lands.
