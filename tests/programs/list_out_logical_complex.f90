! List-directed layout of logicals and complex values: processor dependent.
! processor-dependent: line 1, line 2
program list_out_logical_complex
  implicit none
  print *, .true., .false.
  print *, (1.5, -2.0)
end program list_out_logical_complex
