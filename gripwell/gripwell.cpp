namespace gripwell {}
