! List-directed layout of reals: processor dependent.
! processor-dependent: line 1, line 2
program list_out_reals
  implicit none
  print *, 1.5, -2.0
  print *, 0.25d0
end program list_out_reals
